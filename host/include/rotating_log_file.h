// An append-only log file of bounded size, shared by the debug log and the
// console's access log.
#pragma once

#include "host_api.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <shared_mutex>
#include <string>

namespace tessera::host {

struct LogRotation {
    std::uint64_t max_bytes = 10u << 20;  // a file past this size is rotated before the next record
    int kept_files = 3;                   // <file>.1 (newest) to <file>.<kept_files>
};

// Appends records to `file`, created owner-only. When the file has grown past
// max_bytes, it becomes <file>.1, <file>.1 becomes <file>.2 and so on, the
// oldest is dropped, and a new file is started; processes that share the file
// rotate it once, under a lock on it, and follow the rename. A record that
// cannot be written (a full disk, a removed folder) is dropped: a log never
// fails the work it records.
class TESSERA_HOST_API RotatingLogFile {
public:
    RotatingLogFile(std::filesystem::path file, LogRotation rotation);
    ~RotatingLogFile();
    RotatingLogFile(const RotatingLogFile&) = delete;
    RotatingLogFile& operator=(const RotatingLogFile&) = delete;

    // Writes `record` with one write on a file opened for appending, so records
    // of several threads and processes never interleave; threads write side by
    // side and wait for each other only while the file is checked.
    void Append(const std::string& record);

    const std::filesystem::path& File() const { return file_; }

private:
    bool IsStillAtPath() const;
    void Reopen();
    void RotateIfFull();
    void Write(const std::string& record);

    // Whether the file must be looked at before the next record (its size, and
    // whether someone else moved or removed it): after a sixteenth of max_bytes
    // written here or a second, whichever comes first, not at every record. A
    // record written in between goes to the file where it now is.
    bool IsCheckDue() const;

    std::shared_mutex mutex_;  // shared to write a record, exclusive to check, rotate or reopen
    std::filesystem::path file_;
    LogRotation rotation_;
    int descriptor_ = -1;
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
    std::atomic<std::uint64_t> written_since_check_{0};
    std::atomic<std::chrono::steady_clock::rep> next_check_{0};
};

// The rotation of the debug log and the access log: TESSERA_LOG_MAX_BYTES
// (whole bytes, at least 4096) when set, else the defaults.
TESSERA_HOST_API LogRotation LogRotationFromEnvironment();

}  // namespace tessera::host
