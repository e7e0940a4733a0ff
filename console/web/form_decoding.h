// The fields of a request: its query string and its URL-encoded or multipart
// body, decoded into wide text in the order they were sent.
#pragma once

#include "os_string.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
struct Request;
class ContentReader;
}  // namespace httplib

namespace tessera::console {

using FormFields = std::vector<std::pair<OS::x_wstring, OS::x_wstring>>;

// What one form may hold. The defaults take a save of an approved list of a
// million entries (about 35 MB URL-encoded) with room to spare.
struct FormLimits {
    std::size_t max_body_bytes = 64u << 20;
    std::size_t max_fields = 2'000'000;
};

struct FormBody {
    FormFields fields;
    int error_status = 0;  // 0 when read; else 400, 413 or 415
    std::string error_reason;
};

// The query string's fields, in the order sent.
FormFields QueryFields(const httplib::Request& request);

// Reads a POST body through the library's content reader (the request
// screening has checked its Content-Length already) and decodes it:
// - application/x-www-form-urlencoded: every value as UTF-8 text, "+" as a
//   space, %XX as that byte;
// - multipart/form-data: a part with a file name or a content type is an
//   uploaded file, decoded as a text file (UTF-16 with its byte order mark,
//   else UTF-8); other parts are UTF-8 text;
// - an empty body of any type: no fields; another type: 415.
// More than `limits.max_fields` fields or `limits.max_body_bytes` bytes: 413,
// with the limit and the option that sets it named; a malformed body: 400.
// Invalid UTF-8 becomes U+FFFD.
FormBody ReadFormBody(const httplib::Request& request, const httplib::ContentReader& reader, const FormLimits& limits);

}  // namespace tessera::console
