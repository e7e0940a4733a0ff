// The access log.
#include "access_log.h"

#include "text_util.h"
#include "utc_time.h"

#include <string>

namespace tessera::console {
namespace {

void AppendEscaped(std::string& out, const std::string& text) {
    if (text.empty()) {
        out += '-';
        return;
    }
    host::AppendPercentEncoded(out, text, [](unsigned char byte) { return byte > 0x20 && byte < 0x7f && byte != '%'; });
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
