// Golden bytes of the multipart framing.
#include "http/MultipartFraming.h"

#include <gtest/gtest.h>

using namespace hk::multipart;

namespace {
const char kB[] = "---------------------------0A0B0C0D0E0F";
}

TEST(MultipartFraming, BoundaryIsTwentySevenHyphensAndTwelveUpperHexDigits) {
    CStringA b = Boundary(0x0A0B, 0x0C0D, 0x0E0F);
    EXPECT_STREQ(kB, b.GetString());
    EXPECT_STREQ("---------------------------7FFF00000001", Boundary(0x7FFF, 0, 0x10001).GetString());
}

TEST(MultipartFraming, HeadersAndTrailersAreByteExact) {
    EXPECT_STREQ("Content-Type: multipart/form-data; boundary=---------------------------0A0B0C0D0E0F",
                 ContentTypeHeader(kB).GetString());
    EXPECT_STREQ(
        "-----------------------------0A0B0C0D0E0F\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n",
        FieldHeader(kB, "n").GetString());
    EXPECT_STREQ("-----------------------------0A0B0C0D0E0F\r\nContent-Disposition: form-data; name=\"f\"; "
                 "filename=\"a.txt\"\r\nContent-Type: text/plain\r\n\r\n",
                 FileHeader(kB, "f", "a.txt", "text/plain").GetString());
    EXPECT_STREQ("-----------------------------0A0B0C0D0E0F--\r\n", BodyTrailer(kB).GetString());
}

TEST(MultipartFraming, QuotesCrLfAndPercentSignsGoInUnchanged) {
    EXPECT_STREQ("--B\r\nContent-Disposition: form-data; name=\"a\"b\r\nc%s%d\"\r\n\r\n",
                 FieldHeader("B", "a\"b\r\nc%s%d").GetString());
    EXPECT_STREQ("--B\r\nContent-Disposition: form-data; name=\"\"; filename=\"\"\r\nContent-Type: \r\n\r\n",
                 FileHeader("B", "", "", "").GetString());
}
