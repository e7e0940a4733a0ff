// The few low-level file calls of the logs and the template reader: POSIX's,
// and on Windows its C runtime's. Descriptors are ints on both.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#  include <io.h>
#else
#  include <sys/file.h>
#  include <unistd.h>
#endif

namespace tessera::host::detail {

// What the logs and the template cache tell a file's version by.
struct FileStatus {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;  // 0 on Windows, whose C runtime has no file ids
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    bool is_regular = false;

    bool IsSameFileAs(const FileStatus& other) const { return device == other.device && inode == other.inode; }
    bool operator==(const FileStatus& other) const {
        return IsSameFileAs(other) && size == other.size && modified_ns == other.modified_ns;
    }
};

#if defined(_WIN32)
inline FileStatus StatusFrom(const struct _stat64& info) {
    return {static_cast<std::uint64_t>(info.st_dev), 0, static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtime) * 1000000000, (info.st_mode & _S_IFMT) == _S_IFREG};
}
inline bool StatusOf(int descriptor, FileStatus& status) {
    struct _stat64 info {};
    if (::_fstat64(descriptor, &info) != 0) return false;
    status = StatusFrom(info);
    return true;
}
inline bool StatusOf(const std::filesystem::path& file, FileStatus& status) {
    struct _stat64 info {};
    if (::_wstat64(file.c_str(), &info) != 0) return false;
    status = StatusFrom(info);
    return true;
}
// Appending, created owner-only (on Windows: not read-only).
inline int OpenForAppend(const std::filesystem::path& file) {
    return ::_wopen(file.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}
// Reading; Windows has no FIFOs to hang on, and links are refused by the caller's path checks.
inline int OpenForReading(const std::filesystem::path& file) {
    return ::_wopen(file.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}
inline long long WriteSome(int descriptor, const char* data, std::size_t size) {
    return ::_write(descriptor, data, static_cast<unsigned int>(size < 0x40000000u ? size : 0x40000000u));
}
inline long long ReadSome(int descriptor, char* data, std::size_t size) {
    return ::_read(descriptor, data, static_cast<unsigned int>(size < 0x40000000u ? size : 0x40000000u));
}
inline void CloseFile(int descriptor) { ::_close(descriptor); }
// Only the console shares its logs between processes, and it is not built for Windows.
inline bool LockExclusively(int) { return true; }
inline void Unlock(int) {}
#else
inline FileStatus StatusFrom(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, S_ISREG(info.st_mode)};
}
inline bool StatusOf(int descriptor, FileStatus& status) {
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) return false;
    status = StatusFrom(info);
    return true;
}
inline bool StatusOf(const std::filesystem::path& file, FileStatus& status) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return false;
    status = StatusFrom(info);
    return true;
}
inline int OpenForAppend(const std::filesystem::path& file) {
    return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
}
// O_NONBLOCK: a FIFO must not hang the reader before the caller refuses it.
inline int OpenForReading(const std::filesystem::path& file) {
    return ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}
inline long long WriteSome(int descriptor, const char* data, std::size_t size) {
    return ::write(descriptor, data, size);
}
inline long long ReadSome(int descriptor, char* data, std::size_t size) { return ::read(descriptor, data, size); }
inline void CloseFile(int descriptor) { ::close(descriptor); }
inline bool LockExclusively(int descriptor) { return ::flock(descriptor, LOCK_EX) == 0; }
inline void Unlock(int descriptor) { ::flock(descriptor, LOCK_UN); }
#endif

}  // namespace tessera::host::detail
