// Append-only log files that rotate at a size.
#include "rotating_log_file.h"

#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace tessera::host {

using namespace detail;

namespace {

constexpr std::size_t kMaxKeptBytes = 64 * 1024;

// Whether records are kept for batches: true while a BatchedLogWriting lives.
std::atomic<bool> g_is_batching{false};

// Every log file of the process, for the batch writer. Never destroyed: a
// file may end while statics are torn down.
struct LogFiles {
    std::mutex mutex;
    std::vector<RotatingLogFile*> files;
};
LogFiles& AllLogFiles() {
    static auto* all = new LogFiles();
    return *all;
}

}  // namespace

RotatingLogFile::RotatingLogFile(std::filesystem::path file, LogRotation rotation)
    : file_(std::move(file)), rotation_(rotation) {
    LogFiles& all = AllLogFiles();
    const std::lock_guard lock(all.mutex);
    all.files.push_back(this);
}

RotatingLogFile::~RotatingLogFile() {
    {
        LogFiles& all = AllLogFiles();
        const std::lock_guard lock(all.mutex);
        all.files.erase(std::find(all.files.begin(), all.files.end(), this));
    }
    WriteKept();
    if (descriptor_ >= 0) CloseFile(descriptor_);
}

void RotatingLogFile::Append(const std::string& record, bool at_once) {
    if (g_is_batching) {
        {
            const std::lock_guard lock(kept_mutex_);
            kept_ += record;
            // A batch is at most what the file may grow by between two checks of its size.
            if (!at_once && kept_.size() < std::min<std::uint64_t>(kMaxKeptBytes, rotation_.max_bytes / 16) &&
                g_is_batching) {
                return;
            }
        }
        // Also when batching ended meanwhile: its last writing may have come before this record.
        WriteKept();
        return;
    }
    WriteNow(record);
}

void RotatingLogFile::WriteKept() {
    const std::lock_guard writing(writing_mutex_);
    {
        const std::lock_guard lock(kept_mutex_);
        writing_.swap(kept_);
    }
    if (writing_.empty()) return;
    WriteNow(writing_);
    writing_.clear();
}

void RotatingLogFile::WriteNow(const std::string& record) {
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

BatchedLogWriting::BatchedLogWriting(std::chrono::milliseconds delay) {
    g_is_batching = true;
    writer_ = std::thread([this, delay] {
        std::unique_lock lock(mutex_);
        for (;;) {
            const bool is_last = wake_.wait_for(lock, delay, [this] { return is_ending_; });
            LogFiles& all = AllLogFiles();
            const std::lock_guard files(all.mutex);
            for (RotatingLogFile* file : all.files) file->WriteKept();
            if (is_last) return;
        }
    });
}

BatchedLogWriting::~BatchedLogWriting() {
    g_is_batching = false;
    {
        const std::lock_guard lock(mutex_);
        is_ending_ = true;
    }
    wake_.notify_one();
    writer_.join();  // its last round writes what was kept before the batching ended
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
