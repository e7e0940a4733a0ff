// The kept-aside audit file: appended under an exclusive lock, one JSON
// object a line, synced before a record counts as kept.
#include "pending_audit.h"
#include "audit_rows.h"
#include "store_errors.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessera::host {

namespace {

// An exclusive flock on an open file, for as long as it lives.
class FileLock {
public:
    explicit FileLock(int descriptor) : descriptor_(descriptor) {
        while (::flock(descriptor_, LOCK_EX) != 0 && errno == EINTR) {}
    }
    ~FileLock() { ::flock(descriptor_, LOCK_UN); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int descriptor_;
};

}  // namespace

using sql::AuditFromJson;
using sql::AuditToJson;
using sql::LogFailure;

ConsoleStore::PendingAudit::PendingAudit(std::filesystem::path file) : file_(std::move(file)) {}

void ConsoleStore::PendingAudit::Keep(const std::vector<AuditRecord>& records) {
    if (records.empty()) {
        return;
    }
    std::string lines;
    for (const AuditRecord& record : records) {
        lines += AuditToJson(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
    }
    const std::lock_guard lock(mutex_);
    if (!AppendToFile(lines)) {
        in_memory_.insert(in_memory_.end(), records.begin(), records.end());
    }
}

ConsoleStore::PendingAudit::Taken ConsoleStore::PendingAudit::Peek() {
    const std::lock_guard lock(mutex_);
    Taken taken;
    for (const std::string& line : ReadLines()) {
        try {
            taken.records.push_back(AuditFromJson(nlohmann::json::parse(line)));
        } catch (const nlohmann::json::exception& error) {
            LogFailure(__LINE__,
                       file_.string() + ": a kept audit record is unreadable and is dropped: " + error.what());
        }
        ++taken.file_lines;
    }
    taken.records.insert(taken.records.end(), in_memory_.begin(), in_memory_.end());
    return taken;
}

void ConsoleStore::PendingAudit::Drop(const Taken& taken) {
    const std::lock_guard lock(mutex_);
    const std::size_t from_memory = taken.records.size() - std::min(taken.records.size(), taken.file_lines);
    in_memory_.erase(in_memory_.begin(),
                     in_memory_.begin() + static_cast<std::ptrdiff_t>(std::min(from_memory, in_memory_.size())));
    if (taken.file_lines == 0) {
        return;
    }
    const int descriptor = ::open(file_.c_str(), O_RDWR | O_CLOEXEC);
    if (descriptor < 0) {
        return;
    }
    {
        const FileLock lock_file(descriptor);
        std::vector<std::string> lines = ReadLines(descriptor);
        std::string rest;
        for (std::size_t index = std::min(taken.file_lines, lines.size()); index < lines.size(); ++index) {
            rest += lines[index] + '\n';
        }
        if (::ftruncate(descriptor, 0) != 0 || !WriteAll(descriptor, rest, 0)) {
            LogFailure(__LINE__, "cannot rewrite " + file_.string() + ": stored audit records may be kept twice");
        }
    }
    ::close(descriptor);
}

bool ConsoleStore::PendingAudit::WriteAll(int descriptor, const std::string& text, off_t offset) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t result =
            ::pwrite(descriptor, text.data() + written, text.size() - written, offset + static_cast<off_t>(written));
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(result);
    }
    return ::fsync(descriptor) == 0;
}

bool ConsoleStore::PendingAudit::AppendToFile(const std::string& lines) {
    const int descriptor = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (descriptor < 0) {
        return false;
    }
    bool is_kept = false;
    {
        const FileLock lock_file(descriptor);
        struct stat status {};
        if (::fstat(descriptor, &status) == 0) {
            is_kept = WriteAll(descriptor, lines, status.st_size);
            if (!is_kept && ::ftruncate(descriptor, status.st_size) != 0) {
                LogFailure(__LINE__, "cannot cut a torn record off " + file_.string());
            }
        }
    }
    ::close(descriptor);
    return is_kept;
}

std::vector<std::string> ConsoleStore::PendingAudit::ReadLines() const {
    const int descriptor = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return {};
    }
    std::vector<std::string> lines;
    {
        const FileLock lock_file(descriptor);
        lines = ReadLines(descriptor);
    }
    ::close(descriptor);
    return lines;
}

std::vector<std::string> ConsoleStore::PendingAudit::ReadLines(int descriptor) {
    std::string text;
    char buffer[8192];
    off_t offset = 0;
    for (;;) {
        const ssize_t result = ::pread(descriptor, buffer, sizeof buffer, offset);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(result));
        offset += result;
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace tessera::host
