#include "http/MultipartFraming.h"

namespace hk {
namespace multipart {

// Names, file names and values go in as they are: the server reads them
// verbatim, so nothing is quoted, escaped or converted.

CStringA Boundary(unsigned group1, unsigned group2, unsigned group3) {
    CStringA groups;
    groups.Format("%04X%04X%04X", group1 & 0xFFFF, group2 & 0xFFFF, group3 & 0xFFFF);
    return CStringA('-', 27) + groups;
}

CStringA ContentTypeHeader(const CStringA& boundary) {
    return "Content-Type: multipart/form-data; boundary=" + boundary;
}

CStringA FieldHeader(const CStringA& boundary, const CStringA& name) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
}

CStringA FileHeader(const CStringA& boundary, const CStringA& fieldName, const CStringA& fileName,
                    const CStringA& contentType) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + fieldName + "\"; filename=\"" +
           fileName + "\"\r\nContent-Type: " + contentType + "\r\n\r\n";
}

CStringA PartTrailer() {
    return CStringA("\r\n");
}

CStringA BodyTrailer(const CStringA& boundary) {
    return "--" + boundary + "--\r\n";
}

} // namespace multipart
} // namespace hk
