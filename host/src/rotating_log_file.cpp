// Append-only log files that rotate at a size.
#include "rotating_log_file.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessera::host {

RotatingLogFile::RotatingLogFile(std::filesystem::path file, LogRotation rotation)
    : file_(std::move(file)), rotation_(rotation) {}

RotatingLogFile::~RotatingLogFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

void RotatingLogFile::Append(const std::string& record) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (descriptor_ < 0 || !IsStillAtPath()) Reopen();
    if (IsSizeCheckDue()) {
        RotateIfFull();
        written_since_check_ = 0;
        last_check_ = std::chrono::steady_clock::now();
    }
    std::size_t written = 0;
    while (descriptor_ >= 0 && written < record.size()) {
        const ssize_t result = ::write(descriptor_, record.data() + written, record.size() - written);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) break;  // the record is lost; the caller goes on
        written += static_cast<std::size_t>(result);
    }
    written_since_check_ += written;
}

bool RotatingLogFile::IsSizeCheckDue() const {
    return written_since_check_ >= rotation_.max_bytes / 16 ||
           std::chrono::steady_clock::now() - last_check_ >= std::chrono::seconds(1);
}

bool RotatingLogFile::IsStillAtPath() const {
    struct stat at_path {};
    return ::stat(file_.c_str(), &at_path) == 0 && at_path.st_dev == device_ && at_path.st_ino == inode_;
}

void RotatingLogFile::Reopen() {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    struct stat opened {};
    if (descriptor_ >= 0 && ::fstat(descriptor_, &opened) == 0) {
        device_ = opened.st_dev;
        inode_ = opened.st_ino;
    }
}

void RotatingLogFile::RotateIfFull() {
    struct stat opened {};
    if (descriptor_ < 0 || ::fstat(descriptor_, &opened) != 0 ||
        static_cast<std::uint64_t>(opened.st_size) < rotation_.max_bytes) {
        return;
    }
    // Of several processes over the same file, the first to take the lock
    // rotates; the others find the file moved and follow it.
    if (::flock(descriptor_, LOCK_EX) == 0) {
        if (IsStillAtPath()) {
            const std::string base = file_.string();
            for (int index = rotation_.kept_files; index > 1; --index) {
                ::rename((base + "." + std::to_string(index - 1)).c_str(),
                         (base + "." + std::to_string(index)).c_str());
            }
            if (rotation_.kept_files > 0) {
                ::rename(base.c_str(), (base + ".1").c_str());
            } else {
                ::unlink(base.c_str());
            }
        }
        ::flock(descriptor_, LOCK_UN);
    }
    Reopen();
}

LogRotation LogRotationFromEnvironment() {
    LogRotation rotation;
    const char* text = std::getenv("TESSERA_LOG_MAX_BYTES");
    if (text == nullptr) return rotation;
    const std::string_view digits(text);
    std::uint64_t bytes = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), bytes);
    if (error == std::errc() && end == digits.data() + digits.size() && bytes >= 4096) rotation.max_bytes = bytes;
    return rotation;
}

}  // namespace tessera::host
