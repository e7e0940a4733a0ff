// The web console's plain answers.
#include "responses.h"
#include "page_parts.h"
#include "response_head.h"
#include "routes.h"

#include "os_string.h"

#include <httplib.h>

namespace tessera::console {

using httplib::Response;

void SetContent(Response& response, std::string body, const std::string& content_type) {
    response.body = std::move(body);
    response.headers.erase("Content-Type");
    response.set_header("Content-Type", content_type);
}

void SendShortPage(Response& response, int status, const std::string& reason) {
    const std::string title = std::to_string(status) + " " + ReasonPhrase(status);
    response.status = status;
    SetContent(response,
               "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + Escaped(title) +
                   "</title>\n<link rel=\"stylesheet\" href=\"" + std::string(kStyleSheetPath) +
                   "\">\n</head>\n<body>\n"
                   "<main class=\"error\">\n<h1>" +
                   Escaped(title) + "</h1>\n<p>" + Escaped(reason) + "</p>\n</main>\n</body>\n</html>\n",
               kHtmlType);
}

void Redirect(Response& response, const std::string& location) { response.set_redirect(location, 303); }

std::string FirstField(const FormFields& fields, const wchar_t* name) {
    for (const auto& [field_name, value] : fields) {
        if (field_name == name) return OS::ToUtf8(value);
    }
    return {};
}

}  // namespace tessera::console
