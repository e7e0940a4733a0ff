// Append-only log files that rotate at a size.
#include "rotating_log_file.h"

#include "file_io.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tessera::host {

using namespace detail;

RotatingLogFile::RotatingLogFile(std::filesystem::path file, LogRotation rotation)
    : file_(std::move(file)), rotation_(rotation) {}

RotatingLogFile::~RotatingLogFile() {
    if (descriptor_ >= 0) CloseFile(descriptor_);
}

void RotatingLogFile::Append(const std::string& record) {
    {
        const std::shared_lock<std::shared_mutex> lock(mutex_);
        if (descriptor_ >= 0 && !IsCheckDue()) {
            Write(record);
            return;
        }
    }
    const std::lock_guard<std::shared_mutex> lock(mutex_);
    if (IsCheckDue()) {
        if (descriptor_ < 0 || !IsStillAtPath()) Reopen();
        RotateIfFull();
        written_since_check_ = 0;
        next_check_ = (std::chrono::steady_clock::now() + std::chrono::seconds(1)).time_since_epoch().count();
    } else if (descriptor_ < 0) {
        Reopen();
    }
    Write(record);
}

void RotatingLogFile::Write(const std::string& record) {
    std::size_t written = 0;
    while (descriptor_ >= 0 && written < record.size()) {
        const long long result = WriteSome(descriptor_, record.data() + written, record.size() - written);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) break;  // the record is lost; the caller goes on
        written += static_cast<std::size_t>(result);
    }
    written_since_check_ += written;
}

bool RotatingLogFile::IsCheckDue() const {
    return written_since_check_ >= rotation_.max_bytes / 16 ||
           std::chrono::steady_clock::now().time_since_epoch().count() >= next_check_;
}

bool RotatingLogFile::IsStillAtPath() const {
    FileStatus at_path;
    return StatusOf(file_, at_path) && at_path.device == device_ && at_path.inode == inode_;
}

void RotatingLogFile::Reopen() {
    if (descriptor_ >= 0) CloseFile(descriptor_);
    descriptor_ = OpenForAppend(file_);
    FileStatus opened;
    if (descriptor_ >= 0 && StatusOf(descriptor_, opened)) {
        device_ = opened.device;
        inode_ = opened.inode;
    }
}

void RotatingLogFile::RotateIfFull() {
    FileStatus opened;
    if (descriptor_ < 0 || !StatusOf(descriptor_, opened) || opened.size < rotation_.max_bytes) {
        return;
    }
    // Of several processes over the same file, the first to take the lock
    // rotates; the others find the file moved and follow it.
    if (LockExclusively(descriptor_)) {
        if (IsStillAtPath()) {
            const std::string base = file_.string();
            for (int index = rotation_.kept_files; index > 1; --index) {
                std::rename((base + "." + std::to_string(index - 1)).c_str(),
                            (base + "." + std::to_string(index)).c_str());
            }
            if (rotation_.kept_files > 0) {
                std::rename(base.c_str(), (base + ".1").c_str());
            } else {
                std::remove(base.c_str());
            }
        }
        Unlock(descriptor_);
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
