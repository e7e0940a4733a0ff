// Whatever a form's body holds, URL-encoded or multipart: it is decoded or
// refused with 400, 413 or 415, never more fields than the limit, every text
// made of Unicode scalars; and a URL-encoded form decodes to the same fields
// when its fields are encoded again.
#include "one_request_server.h"
#include "require.h"
#include "unicode_reference.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using tessera::console::FormFields;
using tessera::fuzz::IsScalarText;
using tessera::fuzz::Require;

namespace {

constexpr tessera::console::FormLimits kLimits{1u << 20, 64};
constexpr char kBoundary[] = "fuzzboundary";

std::string PostOf(std::string_view content_type, std::string_view body) {
    std::string request = "POST /form HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nOrigin: http://127.0.0.1:8080\r\n";
    request += "Content-Type: ";
    request += content_type;
    request += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    request += body;
    return request;
}

// Every byte but the unreserved ones as %XX, so nothing of the text is read as syntax.
void AppendEncoded(std::string& out, const std::wstring& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const unsigned char byte : OS::ToUtf8(text)) {
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')) {
            out += static_cast<char>(byte);
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
}

std::string UrlEncoded(const FormFields& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty()) body += '&';
        AppendEncoded(body, name);
        body += '=';
        AppendEncoded(body, value);
    }
    return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static tessera::fuzz::OneRequestServer server(kLimits);
    const bool is_multipart = (data[0] & 1) != 0;
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string content_type = is_multipart ? std::string("multipart/form-data; boundary=") + kBoundary
                                                  : std::string("application/x-www-form-urlencoded");
    const tessera::fuzz::Answer answer = server.Serve(PostOf(content_type, body));
    Require(server.LastForm().has_value(), "a well-formed POST from the console's own origin reaches its handler");
    const tessera::console::FormBody form = *server.LastForm();
    const int status = form.error_status;
    Require(status == 0 || status == 400 || status == 413 || status == 415, "a form is read or refused with 4xx");
    Require(answer.status == (status == 0 ? 200 : status), "the answer says what the decoding found");
    Require(form.fields.size() <= kLimits.max_fields, "no form holds more fields than the limit");
    for (const auto& [name, value] : form.fields) {
        Require(IsScalarText(name) && IsScalarText(value), "decoded text holds Unicode scalars only");
    }
    if (is_multipart || status != 0) return 0;

    server.Serve(PostOf(content_type, UrlEncoded(form.fields)));
    Require(server.LastForm().has_value() && server.LastForm()->error_status == 0, "encoded fields decode");
    Require(server.LastForm()->fields == form.fields, "fields encoded again decode to the same fields");
    return 0;
}
