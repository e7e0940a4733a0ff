// The access log: one line per request in <data>/access.log,
//   <ISO-8601 UTC time> <client address> <user or -> <method> <path> <status> <bytes> <milliseconds or ->
// The path goes without its query string, and nothing of the request's
// headers, cookies or fields is written, so no secret reaches the file.
#pragma once

#include "rotating_log_file.h"

#include <filesystem>
#include <optional>
#include <string>

namespace tessera::console {

// The source name of the console's own debug-log lines.
inline constexpr char kConsoleLogSource[] = ".\\tessera-console";

struct AccessRecord {
    std::string client_address;
    std::string user_name;  // empty: not signed in
    std::string method;
    std::string path;  // percent-decoded request path, without query
    int status = 0;
    std::size_t body_bytes = 0;
    std::optional<long long> duration_ms;  // null when the request failed before routing
};

class AccessLog {
public:
    // Appends to `file` (created owner-only), rotated like the debug log.
    explicit AccessLog(const std::filesystem::path& file);

    // Writes one line, at once or with the batch of a BatchedLogWriting. Bytes
    // outside printable ASCII, and "%", become %XX, so a line stays one line
    // and fields stay apart; an empty field is "-".
    void Write(const AccessRecord& record);

private:
    host::RotatingLogFile file_;
};

}  // namespace tessera::console
