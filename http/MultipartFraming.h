// The byte layout of multipart/form-data bodies: pure text building, shared by
// the request engine's generators (which log) and the tests.
#pragma once

#include "HkString.h"

namespace hk {
namespace multipart {

// 27 hyphens and three groups of four upper-case hexadecimal digits.
CStringA Boundary(unsigned group1, unsigned group2, unsigned group3);
// "Content-Type: multipart/form-data; boundary=B" (no CRLF).
CStringA ContentTypeHeader(const CStringA& boundary);
// "--B" CRLF, the Content-Disposition line naming the field, CRLF, CRLF.
CStringA FieldHeader(const CStringA& boundary, const CStringA& name);
// As FieldHeader with the file name and a Content-Type line.
CStringA FileHeader(const CStringA& boundary, const CStringA& fieldName, const CStringA& fileName,
                    const CStringA& contentType);
// CRLF after a part's content.
CStringA PartTrailer();
// "--B--" CRLF.
CStringA BodyTrailer(const CStringA& boundary);

} // namespace multipart
} // namespace hk
