// The host's debug log: one escaped line per record, appended to
// <data dir>/debug.log with a single write (for a record, or for a batch of
// them) so that records never interleave; a crash loses none that was logged.
#include "debug_log.h"

#include "current_settings.h"
#include "os_string.h"
#include "rotating_log_file.h"
#include "string_format.h"
#include "text_util.h"
#include "utc_time.h"

#include <atomic>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#if !defined(_WIN32)
#  include <unistd.h>
#endif

namespace {

constexpr std::size_t kMaxMessageBytes = 64 * 1024;

// Appends `text` with control characters escaped (and backslashes, when the
// escapes must read back unambiguously), stopping before the output would pass
// `max_bytes` and never inside a UTF-8 character. Returns the number of bytes
// of `text` left out.
std::size_t AppendEscaped(std::string& out, std::string_view text, std::size_t max_bytes, bool escapes_backslash) {
    const std::size_t out_start = out.size();
    std::size_t index = 0;
    for (; index < text.size(); ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        const std::size_t before = out.size();
        // Bytes of 80-FF are parts of UTF-8 characters, not characters of their own.
        if (byte < 0x80 && tessera::host::IsControlCharacter(byte)) {
            tessera::host::AppendControlEscape(out, byte);
        } else if (byte == '\\' && escapes_backslash) {
            out += "\\\\";
        } else {
            out += static_cast<char>(byte);
        }
        if (out.size() - out_start > max_bytes) {
            out.resize(before);
            break;
        }
    }
    // Bytes of 80-FF are copied one for one, so backing off one is dropping one.
    while (index < text.size() && index > 0 && (static_cast<unsigned char>(text[index]) & 0xC0) == 0x80) {
        --index;
        out.pop_back();
    }
    return text.size() - index;
}

// Appends the record's line to `record`.
void MakeRecord(std::string& record, unsigned int level, const char* source, int line, std::string_view utf8_message) {
    tessera::host::AppendUtcTime(record, true);
    record += ' ';
    record += std::to_string(level);
    record += ' ';
    // Source names such as ".\Tessera" keep their backslash as written.
    AppendEscaped(record, source != nullptr ? source : "", kMaxMessageBytes, false);
    record += ':';
    record += std::to_string(line);
    record += ' ';
    const std::size_t cut_bytes = AppendEscaped(record, utf8_message, kMaxMessageBytes, true);
    if (cut_bytes > 0) {
        record += "...[cut: " + std::to_string(cut_bytes) + " more bytes]";
    }
    record += '\n';
}

constexpr unsigned int kFailureLevel = 4099;
constexpr std::size_t kMaxKeptBytes = 64 * 1024;

// The records of a thread inside a DebugLogBatch.
struct KeptRecords {
    std::string lines;
    int batch_depth = 0;
};
thread_local KeptRecords t_kept;

// Where the crash handler writes: the file that the last record went to, as a
// NUL-terminated path it can open without allocating.
std::atomic<const char*> g_crash_file{nullptr};

// The debug log of the configured data folder; a new file object when the
// folder changes.
class DebugLogFile {
public:
    void Append(const std::string& records, bool at_once) {
        const auto settings = tessera::host::SharedSettings();
        if (settings->data_dir.empty()) {
            return;
        }
        std::shared_ptr<tessera::host::RotatingLogFile> file;
        {
            const std::shared_lock<std::shared_mutex> lock(mutex_);
            if (data_dir_ == settings->data_dir.native()) file = file_;
        }
        if (!file) {
            const std::lock_guard<std::shared_mutex> lock(mutex_);
            if (data_dir_ != settings->data_dir.native()) {
                file_ = std::make_shared<tessera::host::RotatingLogFile>(settings->data_dir / "debug.log",
                                                                         tessera::host::LogRotationFromEnvironment());
                data_dir_ = settings->data_dir.native();
                // Kept for the life of the process: a crash handler may still read an earlier one.
                g_crash_file = crash_files_.emplace_back(file_->File().string()).c_str();
            }
            file = file_;
        }
        file->Append(records, at_once);
    }

    static DebugLogFile& Instance() {
        // Never destroyed: lines may still come while statics are torn down.
        static auto* log_file = new DebugLogFile();
        return *log_file;
    }

private:
    std::shared_mutex mutex_;
    std::filesystem::path::string_type data_dir_;
    std::shared_ptr<tessera::host::RotatingLogFile> file_;
    std::deque<std::string> crash_files_;
};

// A failure goes to the file at once, even while log lines are written in batches.
void WriteKept(bool is_failure) {
    KeptRecords& kept = t_kept;
    if (kept.lines.empty()) return;
    DebugLogFile::Instance().Append(kept.lines, is_failure);
    kept.lines.clear();
}

void WriteRecord(unsigned int level, const char* source, int line, std::string_view utf8_message) {
    KeptRecords& kept = t_kept;
    if (kept.batch_depth > 0) {
        MakeRecord(kept.lines, level, source, line, utf8_message);
        if (level == kFailureLevel || kept.lines.size() >= kMaxKeptBytes) WriteKept(level == kFailureLevel);
        return;
    }
    // Each thread builds its records in one buffer that keeps its size.
    thread_local std::string record;
    record.clear();
    MakeRecord(record, level, source, line, utf8_message);
    DebugLogFile::Instance().Append(record, level == kFailureLevel);
}

#if !defined(_WIN32)
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
struct sigaction g_previous_actions[sizeof kCrashSignals / sizeof kCrashSignals[0]];

// Only calls that are safe in a signal handler: open, write, close.
void OnCrash(int signal_number) {
    const KeptRecords& kept = t_kept;
    const char* file = g_crash_file.load();
    if (!kept.lines.empty() && file != nullptr) {
        const int descriptor = ::open(file, O_WRONLY | O_APPEND | O_CLOEXEC);
        if (descriptor >= 0) {
            std::size_t written = 0;
            while (written < kept.lines.size()) {
                const ssize_t result = ::write(descriptor, kept.lines.data() + written, kept.lines.size() - written);
                if (result <= 0) break;
                written += static_cast<std::size_t>(result);
            }
            ::close(descriptor);
        }
    }
    // The earlier handling takes over: a fault happens again on return, an abort raises again.
    for (std::size_t index = 0; index < sizeof kCrashSignals / sizeof kCrashSignals[0]; ++index) {
        if (kCrashSignals[index] == signal_number) ::sigaction(signal_number, &g_previous_actions[index], nullptr);
    }
}
#endif

}  // namespace

namespace DBG {

void DebugLogEx(HINSTANCE /*module*/, unsigned int level, const char* source, int line, const wchar_t* format, ...) {
    // The thread's buffers keep their size: a line allocates nothing.
    thread_local std::wstring message;
    thread_local std::string utf8_message;
    message.clear();
    va_list args;
    va_start(args, format);
    tessera::host::AppendFormatted(message, format, args);
    va_end(args);
    utf8_message.clear();
    OS::AppendUtf8(utf8_message, message.data(), message.size());
    WriteRecord(level, source, line, utf8_message);
}

void DebugLogEx(HINSTANCE /*module*/, unsigned int level, const char* source, int line, const char* format, ...) {
    std::string message;
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        va_list measuring;
        va_copy(measuring, args);
        const int needed = std::vsnprintf(nullptr, 0, format, measuring);
        va_end(measuring);
        if (needed > 0) {
            std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
            std::vsnprintf(buffer.data(), buffer.size(), format, args);
            message.assign(buffer.data(), static_cast<std::size_t>(needed));
        }
        va_end(args);
    }
    // Invalid UTF-8 is made valid here, so every record is valid UTF-8.
    const OS::x_wstring wide = OS::UTF8CharToWChar(message.data(), message.size());
    WriteRecord(level, source, line, OS::WCharToUTF8Char(wide.c_str(), wide.size(), nullptr));
}

}  // namespace DBG

namespace tessera::host {

DebugLogBatch::DebugLogBatch() { ++t_kept.batch_depth; }

DebugLogBatch::~DebugLogBatch() {
    if (--t_kept.batch_depth > 0) return;
    try {
        WriteKept(false);
    } catch (const std::exception&) {
        t_kept.lines.clear();  // a log never fails the work it records
    }
}

void WriteKeptDebugLinesOnCrash() {
#if !defined(_WIN32)
    for (std::size_t index = 0; index < sizeof kCrashSignals / sizeof kCrashSignals[0]; ++index) {
        struct sigaction action {};
        action.sa_handler = OnCrash;
        sigemptyset(&action.sa_mask);
        ::sigaction(kCrashSignals[index], &action, &g_previous_actions[index]);
    }
#endif
}

}  // namespace tessera::host
