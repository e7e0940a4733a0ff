// The access log.
#include "access_log.h"

#include <ctime>

namespace tessera::console {
namespace {

std::string Escaped(const std::string& text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (text.empty()) return "-";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '%') {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0x0f];
        } else {
            out += c;
        }
    }
    return out;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string FormatAccessFields(const AccessRecord& record) {
    return Escaped(record.client_address) + ' ' + Escaped(record.user_name) + ' ' + Escaped(record.method) + ' ' +
           Escaped(record.path) + ' ' + std::to_string(record.status) + ' ' + std::to_string(record.body_bytes) + ' ' +
           (record.duration_ms ? std::to_string(*record.duration_ms) : "-");
}

}  // namespace

AccessLog::AccessLog(const std::filesystem::path& file) : file_(file, host::LogRotationFromEnvironment()) {}

void AccessLog::Write(const AccessRecord& record) { file_.Append(UtcNow() + ' ' + FormatAccessFields(record) + '\n'); }

}  // namespace tessera::console
