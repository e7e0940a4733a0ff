// An append-only log file of bounded size, shared by the debug log and the
// console's access log.
#pragma once

#include "host_api.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

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
    // side and wait for each other only while the file is checked. While a
    // BatchedLogWriting lives, the record is kept with others and written with
    // them, unless `at_once` asks for it (and those kept before) to go now.
    void Append(const std::string& record, bool at_once = false);

    const std::filesystem::path& File() const { return file_; }

private:
    friend class BatchedLogWriting;

    // Writes what is kept, in the order it was appended.
    void WriteKept();
    // One write of `records` to the file where it now is.
    void WriteNow(const std::string& records);
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

    std::mutex kept_mutex_;  // guards kept_
    std::string kept_;
    std::mutex writing_mutex_;  // one batch at a time, so batches reach the file in order
    std::string writing_;       // guarded by writing_mutex_; its buffer is kept's again next time
};

// While one lives, the records of every log file are kept in memory and written
// together: every `delay` by a thread of its own, sooner when a file's kept
// records pass 64 KiB (or a sixteenth of its rotation size, when that is less)
// or one is appended at once. The console serves in one: a line per request
// costs no system call, and lines reach their files within `delay`. Records
// kept when the process is killed are lost; at its end all kept records are
// written, and records go out one by one again. One at a time.
class TESSERA_HOST_API BatchedLogWriting {
public:
    explicit BatchedLogWriting(std::chrono::milliseconds delay);
    ~BatchedLogWriting();
    BatchedLogWriting(const BatchedLogWriting&) = delete;
    BatchedLogWriting& operator=(const BatchedLogWriting&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool is_ending_ = false;
    std::thread writer_;
};

// The rotation of the debug log and the access log: TESSERA_LOG_MAX_BYTES
// (whole bytes, at least 4096) when set, else the defaults.
TESSERA_HOST_API LogRotation LogRotationFromEnvironment();

}  // namespace tessera::host
