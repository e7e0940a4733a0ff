// The access log.
#include "access_log.h"

#include "utc_time.h"

#include <string>

namespace tessera::console {
namespace {

void AppendEscaped(std::string& out, const std::string& text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (text.empty()) {
        out += '-';
        return;
    }
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '%') {
            const char escaped[] = {'%', kDigits[byte >> 4], kDigits[byte & 0x0f]};
            out.append(escaped, sizeof escaped);
        } else {
            out += c;
        }
    }
}

}  // namespace

AccessLog::AccessLog(const std::filesystem::path& file) : file_(file, host::LogRotationFromEnvironment()) {}

void AccessLog::Write(const AccessRecord& record) {
    // Each thread builds its lines in one buffer that keeps its size.
    thread_local std::string line;
    line.clear();
    host::AppendUtcTime(line, false);
    for (const std::string* field : {&record.client_address, &record.user_name, &record.method, &record.path}) {
        line += ' ';
        AppendEscaped(line, *field);
    }
    line += ' ';
    line += std::to_string(record.status);
    line += ' ';
    line += std::to_string(record.body_bytes);
    line += ' ';
    line += record.duration_ms ? std::to_string(*record.duration_ms) : "-";
    line += '\n';
    file_.Append(line);
}

}  // namespace tessera::console
