// The fields of a request: its query string and its URL-encoded or multipart
// body, decoded with the HTTP library's own parsers into wide text.
#pragma once

#include "os_string.h"

#include <httplib.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tessera::console {

using FormFields = std::vector<std::pair<OS::x_wstring, OS::x_wstring>>;

inline constexpr std::size_t kMaxFormFields = 100000;

struct FormBody {
    FormFields fields;
    int error_status = 0;  // 0 when read; else 400, 413 or 415
    std::string error_reason;
};

// The query string's fields, UTF-8 decoded. Fields of one name keep their
// order; fields of different names come ordered by name.
FormFields QueryFields(const httplib::Request& request);

// Reads a POST body through the library's content reader (its own size limit
// is checked first by the request screening) and decodes it:
// - application/x-www-form-urlencoded: every value as UTF-8 text;
// - multipart/form-data: a part with a file name or a content type is an
//   uploaded file, decoded as a text file (UTF-16 with its byte order mark,
//   else UTF-8); other parts are UTF-8 text;
// - an empty body of any type: no fields; another type: 415.
// More than kMaxFormFields fields or more than `max_body_bytes`: 413; a
// malformed body: 400. Invalid UTF-8 becomes U+FFFD.
FormBody ReadFormBody(const httplib::Request& request, const httplib::ContentReader& reader,
                      std::size_t max_body_bytes);

}  // namespace tessera::console
