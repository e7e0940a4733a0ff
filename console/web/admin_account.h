// The console's one administrator account: a salted PBKDF2-HMAC-SHA-256 hash of
// its password in <data>/admin.json. The password itself is never stored.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tessera::console {

inline constexpr char kAdminUserName[] = "admin";
inline constexpr unsigned kPasswordHashIterations = 310000;
inline constexpr std::size_t kMinPasswordLength = 8;
inline constexpr std::size_t kMaxPasswordLength = 1024;
inline constexpr char kAdminPasswordVariable[] = "TESSERA_ADMIN_PASSWORD";

struct AdminAccount {
    std::string user_name;
    std::vector<unsigned char> salt;
    unsigned iterations = 0;
    std::vector<unsigned char> hash;
};

// A new account for `password` with a fresh random 16-byte salt. Throws
// std::invalid_argument when the password is shorter than kMinPasswordLength
// or longer than kMaxPasswordLength bytes.
AdminAccount MakeAccount(const std::string& user_name, const std::string& password);

// True when `user_name` and `password` match; the hashes are compared in
// constant time.
bool VerifySignIn(const AdminAccount& account, const std::string& user_name, const std::string& password);

// A random password of 20 characters from an alphabet without look-alikes.
std::string GeneratePassword();

std::filesystem::path AccountFilePath(const std::filesystem::path& data_dir);

// Null when the file does not exist; throws std::runtime_error naming the file
// when it cannot be read or is malformed.
std::optional<AdminAccount> ReadAccountFile(const std::filesystem::path& file);
// Replaces the file at once (written beside it, then renamed), readable by the
// owner only. Throws std::runtime_error naming the file.
void WriteAccountFile(const std::filesystem::path& file, const AdminAccount& account);

// The account as the file holds it now: a password changed by
// `tessera-console passwd` takes effect for a running console at the next
// request, without a restart.
class AccountFile {
public:
    explicit AccountFile(std::filesystem::path file);

    // Null when the file is missing or unreadable (nobody can sign in then). A
    // new object after every change of the file, so sessions can tell.
    std::shared_ptr<const AdminAccount> Current();

private:
    std::filesystem::path file_;
    std::mutex mutex_;
    std::shared_ptr<const AdminAccount> account_;
    bool has_loaded_ = false;
    struct FileVersion {
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t seconds = 0;
        std::int64_t nanoseconds = 0;
        bool operator==(const FileVersion& other) const {
            return inode == other.inode && size == other.size && seconds == other.seconds &&
                   nanoseconds == other.nanoseconds;
        }
    };
    FileVersion loaded_version_;
};

}  // namespace tessera::console
