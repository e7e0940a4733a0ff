// The access log.
#include "access_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <stdexcept>

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

AccessLog::AccessLog(const std::filesystem::path& file)
    : fd_(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR)) {
    if (fd_ < 0) throw std::runtime_error("access log " + file.string() + " cannot be opened");
}

AccessLog::~AccessLog() { ::close(fd_); }

void AccessLog::Write(const AccessRecord& record) {
    const std::string line = UtcNow() + ' ' + FormatAccessFields(record) + '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    // One write per line with O_APPEND keeps lines whole; a failed write is
    // not worth failing the request for.
    [[maybe_unused]] const ssize_t written = ::write(fd_, line.data(), line.size());
}

}  // namespace tessera::console
