// Decoding of query strings and POST bodies into wide fields.
#include "form_decoding.h"

#include "text_util.h"

#include <httplib.h>

#include <algorithm>

namespace tessera::console {
namespace {

OS::x_wstring Utf8(const std::string& bytes) { return OS::UTF8CharToWChar(bytes.data(), bytes.size()); }

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

// One name or value of application/x-www-form-urlencoded text; a "%" without
// two hexadecimal digits stays as it is, as browsers leave it.
OS::x_wstring DecodeUrlComponent(const char* begin, const char* end) {
    // Most names and list entries hold nothing to decode: no byte copy first.
    if (std::none_of(begin, end, [](char byte) { return byte == '+' || byte == '%'; })) {
        return OS::UTF8CharToWChar(begin, static_cast<std::size_t>(end - begin));
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(end - begin));
    for (const char* at = begin; at != end; ++at) {
        if (*at == '+') {
            bytes += ' ';
        } else if (*at == '%' && end - at >= 3 && HexValue(at[1]) >= 0 && HexValue(at[2]) >= 0) {
            bytes += static_cast<char>(HexValue(at[1]) * 16 + HexValue(at[2]));
            at += 2;
        } else {
            bytes += *at;
        }
    }
    return Utf8(bytes);
}

// Every "name=value" between "&" in order; empty pieces are skipped.
FormFields DecodeUrlEncoded(const std::string& text) {
    FormFields fields;
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at < end) {
        const char* piece_end = std::find(at, end, '&');
        if (piece_end != at) {
            const char* equals = std::find(at, piece_end, '=');
            fields.emplace_back(DecodeUrlComponent(at, equals),
                                equals == piece_end ? OS::x_wstring() : DecodeUrlComponent(equals + 1, piece_end));
        }
        at = piece_end + 1;
    }
    return fields;
}

bool IsUrlEncoded(const httplib::Request& request) {
    static const std::string kType = "application/x-www-form-urlencoded";
    const std::string type = request.get_header_value("Content-Type");
    return host::FoldAsciiCase(type.substr(0, kType.size())) == kType;
}

FormBody Failure(int status, std::string reason) {
    FormBody body;
    body.error_status = status;
    body.error_reason = std::move(reason);
    return body;
}

FormBody TooManyFields(const FormLimits& limits) {
    return Failure(413, "The form holds more than " + std::to_string(limits.max_fields) +
                            " fields, the most this console takes (serve --max-fields).");
}

FormBody TooManyBytes(const FormLimits& limits) {
    return Failure(413, "The form is larger than " + std::to_string(limits.max_body_bytes) +
                            " bytes, the most this console takes (serve --max-body).");
}

FormBody ReadUrlEncoded(const httplib::ContentReader& reader, const FormLimits& limits) {
    std::string text;
    bool is_too_large = false;
    const bool is_read = reader([&](const char* data, std::size_t length) {
        if (text.size() + length > limits.max_body_bytes) {
            is_too_large = true;
            return false;
        }
        text.append(data, length);
        return true;
    });
    if (is_too_large) return TooManyBytes(limits);
    if (!is_read) return Failure(400, "The request body could not be read.");
    // Counted before decoding, which holds every field in memory.
    if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '&')) >= limits.max_fields) {
        return TooManyFields(limits);
    }
    FormBody body;
    body.fields = DecodeUrlEncoded(text);
    return body;
}

FormBody ReadMultipart(const httplib::ContentReader& reader, const FormLimits& limits) {
    struct Part {
        std::string name;
        bool is_file = false;
        std::string content;
    };
    std::vector<Part> parts;
    std::size_t content_bytes = 0;
    bool has_too_many_parts = false;
    bool has_too_many_bytes = false;
    const bool is_read = reader(
        [&](const httplib::MultipartFormData& header) {
            has_too_many_parts = parts.size() >= limits.max_fields;
            if (has_too_many_parts) return false;
            parts.push_back(Part{header.name, !header.filename.empty() || !header.content_type.empty(), {}});
            return true;
        },
        [&](const char* data, std::size_t length) {
            content_bytes += length;
            has_too_many_bytes = content_bytes > limits.max_body_bytes;
            if (parts.empty() || has_too_many_bytes) return false;
            parts.back().content.append(data, length);
            return true;
        });
    if (has_too_many_parts) return TooManyFields(limits);
    if (has_too_many_bytes) return TooManyBytes(limits);
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
    const std::size_t question = request.target.find('?');
    if (question == std::string::npos) return {};
    return DecodeUrlEncoded(request.target.substr(question + 1, request.target.find('#', question) - question - 1));
}

FormBody ReadFormBody(const httplib::Request& request, const httplib::ContentReader& reader, const FormLimits& limits) {
    if (request.is_multipart_form_data()) return ReadMultipart(reader, limits);
    if (IsUrlEncoded(request)) return ReadUrlEncoded(reader, limits);
    if (request.get_header_value("Content-Length") == "0") return FormBody{};
    return Failure(415, "Forms must be URL-encoded or multipart.");
}

}  // namespace tessera::console
