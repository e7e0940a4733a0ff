// The administrator account: hashing, verification and its file.
#include "admin_account.h"
#include "hex_text.h"

#include "access_log.h"
#include "debug_log.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace tessera::console {
namespace {

constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
constexpr std::size_t kGeneratedPasswordLength = 20;
constexpr std::uintmax_t kMaxAccountFileBytes = 64 * 1024;

void FillRandom(unsigned char* bytes, std::size_t count) {
    if (count > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
        RAND_bytes(bytes, static_cast<int>(count)) != 1) {
        throw std::runtime_error("the random number generator failed");
    }
}

std::vector<unsigned char> DeriveHash(const std::string& password, const std::vector<unsigned char>& salt,
                                      unsigned iterations) {
    std::vector<unsigned char> hash(kHashBytes);
    if (iterations == 0 || iterations > static_cast<unsigned>(std::numeric_limits<int>::max()) ||
        PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                          static_cast<int>(hash.size()), hash.data()) != 1) {
        throw std::runtime_error("PBKDF2 failed");
    }
    return hash;
}

std::string ToHex(const std::vector<unsigned char>& bytes) {
    return HexText(bytes.data(), bytes.size(), HexCase::kLower);
}

std::vector<unsigned char> FromHex(const std::string& text, const std::string& what) {
    std::optional<std::vector<unsigned char>> bytes = BytesOfHexText(text);
    if (!bytes) throw std::runtime_error(what + " is not hexadecimal");
    return std::move(*bytes);
}

}  // namespace

AdminAccount MakeAccount(const std::string& user_name, const std::string& password) {
    if (password.size() < kMinPasswordLength) {
        throw std::invalid_argument("the password must hold at least " + std::to_string(kMinPasswordLength) +
                                    " characters");
    }
    if (password.size() > kMaxPasswordLength) {
        throw std::invalid_argument("the password must hold at most " + std::to_string(kMaxPasswordLength) + " bytes");
    }
    AdminAccount account;
    account.user_name = user_name;
    account.salt.resize(kSaltBytes);
    FillRandom(account.salt.data(), account.salt.size());
    account.iterations = kPasswordHashIterations;
    account.hash = DeriveHash(password, account.salt, account.iterations);
    return account;
}

bool VerifySignIn(const AdminAccount& account, const std::string& user_name, const std::string& password) {
    if (password.size() > kMaxPasswordLength) return false;
    // The hash is computed even for a wrong user name, so timing tells nothing.
    const std::vector<unsigned char> hash = DeriveHash(password, account.salt, account.iterations);
    const bool is_hash_equal =
        hash.size() == account.hash.size() && CRYPTO_memcmp(hash.data(), account.hash.data(), hash.size()) == 0;
    return is_hash_equal && user_name == account.user_name;
}

std::string GeneratePassword() {
    static constexpr char kAlphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    constexpr unsigned kAlphabetSize = sizeof(kAlphabet) - 1;
    // Bytes at or above the largest multiple of the alphabet size are drawn
    // again, so every character is equally likely.
    constexpr unsigned kUnbiasedLimit = 256 - 256 % kAlphabetSize;
    std::string password;
    while (password.size() < kGeneratedPasswordLength) {
        unsigned char byte = 0;
        FillRandom(&byte, 1);
        if (byte < kUnbiasedLimit) password += kAlphabet[byte % kAlphabetSize];
    }
    return password;
}

std::filesystem::path AccountFilePath(const std::filesystem::path& data_dir) { return data_dir / "admin.json"; }

std::optional<AdminAccount> ReadAccountFile(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return std::nullopt;
    const std::string where = "account file " + file.string();
    if (std::filesystem::file_size(file, error) > kMaxAccountFileBytes || error) {
        throw std::runtime_error(where + " is too large or unreadable");
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error(where + " cannot be opened");
    try {
        const nlohmann::json json = nlohmann::json::parse(in);
        AdminAccount account;
        account.user_name = json.at("user").get<std::string>();
        if (json.at("algorithm").get<std::string>() != "pbkdf2-hmac-sha256") {
            throw std::runtime_error("unknown algorithm");
        }
        account.iterations = json.at("iterations").get<unsigned>();
        account.salt = FromHex(json.at("salt").get<std::string>(), "salt");
        account.hash = FromHex(json.at("hash").get<std::string>(), "hash");
        if (account.user_name.empty() || account.iterations == 0 || account.hash.size() != kHashBytes) {
            throw std::runtime_error("incomplete account");
        }
        return account;
    } catch (const std::exception& e) {
        throw std::runtime_error(where + " is malformed: " + e.what());
    }
}

void WriteAccountFile(const std::filesystem::path& file, const AdminAccount& account) {
    const nlohmann::ordered_json json = {
        {"user", account.user_name},   {"algorithm", "pbkdf2-hmac-sha256"}, {"iterations", account.iterations},
        {"salt", ToHex(account.salt)}, {"hash", ToHex(account.hash)},
    };
    const std::string text = json.dump(2) + "\n";
    const std::filesystem::path temporary = file.string() + ".new";
    const std::string where = "account file " + file.string();

    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) throw std::runtime_error(where + " cannot be written");
    const bool is_written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                            ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && ::fsync(fd) == 0;
    const bool is_closed = ::close(fd) == 0;
    if (!is_written || !is_closed || std::rename(temporary.c_str(), file.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error(where + " cannot be written");
    }
}

AccountFile::AccountFile(std::filesystem::path file) : file_(std::move(file)) {}

std::shared_ptr<const AdminAccount> AccountFile::Current() {
    // One stat a request, outside the lock that every request takes: the
    // account is read again only once the file changed.
    struct stat status {};
    const bool exists = ::stat(file_.c_str(), &status) == 0;
    const FileVersion version{status.st_ino, status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
    std::lock_guard<std::mutex> lock(mutex_);
    if (!exists) {
        account_.reset();
        has_loaded_ = false;
        return account_;
    }
    if (has_loaded_ && version == loaded_version_) return account_;
    try {
        const std::optional<AdminAccount> account = ReadAccountFile(file_);
        account_ = account ? std::make_shared<const AdminAccount>(*account) : nullptr;
    } catch (const std::exception& e) {
        DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "%s", e.what());
        account_.reset();
    }
    has_loaded_ = true;
    loaded_version_ = version;
    return account_;
}

}  // namespace tessera::console
