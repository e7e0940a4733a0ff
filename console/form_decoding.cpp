// Decoding of query strings and POST bodies into wide fields.
#include "form_decoding.h"

#include <algorithm>
#include <cctype>

namespace tessera::console {
namespace {

OS::x_wstring Utf8(const std::string& bytes) { return OS::UTF8CharToWChar(bytes.data(), bytes.size()); }

bool IsUrlEncoded(const httplib::Request& request) {
    static const std::string kType = "application/x-www-form-urlencoded";
    const std::string type = request.get_header_value("Content-Type");
    if (type.size() < kType.size()) return false;
    return std::equal(kType.begin(), kType.end(), type.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

FormBody Failure(int status, std::string reason) {
    FormBody body;
    body.error_status = status;
    body.error_reason = std::move(reason);
    return body;
}

FormBody ReadUrlEncoded(const httplib::ContentReader& reader, std::size_t max_body_bytes) {
    std::string text;
    bool is_too_large = false;
    const bool is_read = reader([&](const char* data, std::size_t length) {
        if (text.size() + length > max_body_bytes) {
            is_too_large = true;
            return false;
        }
        text.append(data, length);
        return true;
    });
    if (is_too_large) return Failure(413, "The request body is larger than this console accepts.");
    if (!is_read) return Failure(400, "The request body could not be read.");
    // The parser keeps every field in memory twice; count before letting it.
    if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '&')) >= kMaxFormFields) {
        return Failure(413, "The form holds too many fields.");
    }
    httplib::Params params;
    httplib::detail::parse_query_text(text, params);
    FormBody body;
    body.fields.reserve(params.size());
    for (const auto& [name, value] : params) body.fields.emplace_back(Utf8(name), Utf8(value));
    return body;
}

FormBody ReadMultipart(const httplib::ContentReader& reader, std::size_t max_body_bytes) {
    struct Part {
        std::string name;
        bool is_file = false;
        std::string content;
    };
    std::vector<Part> parts;
    std::size_t content_bytes = 0;
    bool is_too_large = false;
    const bool is_read = reader(
        [&](const httplib::MultipartFormData& header) {
            if (parts.size() >= kMaxFormFields) {
                is_too_large = true;
                return false;
            }
            parts.push_back(Part{header.name, !header.filename.empty() || !header.content_type.empty(), {}});
            return true;
        },
        [&](const char* data, std::size_t length) {
            content_bytes += length;
            if (parts.empty() || content_bytes > max_body_bytes) {
                is_too_large = !parts.empty();
                return false;
            }
            parts.back().content.append(data, length);
            return true;
        });
    if (is_too_large) return Failure(413, "The form is larger than this console accepts.");
    if (!is_read) return Failure(400, "The form could not be read.");
    FormBody body;
    body.fields.reserve(parts.size());
    for (Part& part : parts) {
        body.fields.emplace_back(Utf8(part.name), part.is_file ? OS::DecodeTextFile(part.content) : Utf8(part.content));
        std::string().swap(part.content);  // halves the peak for a large upload
    }
    return body;
}

}  // namespace

FormFields QueryFields(const httplib::Request& request) {
    FormFields fields;
    fields.reserve(request.params.size());
    for (const auto& [name, value] : request.params) fields.emplace_back(Utf8(name), Utf8(value));
    return fields;
}

FormBody ReadFormBody(const httplib::Request& request, const httplib::ContentReader& reader,
                      std::size_t max_body_bytes) {
    if (request.is_multipart_form_data()) return ReadMultipart(reader, max_body_bytes);
    if (IsUrlEncoded(request)) return ReadUrlEncoded(reader, max_body_bytes);
    if (request.get_header_value("Content-Length") == "0") return FormBody{};
    return Failure(415, "Forms must be URL-encoded or multipart.");
}

}  // namespace tessera::console
