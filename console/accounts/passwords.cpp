// Password hashing through OpenSSL, and the password rule through libpwquality.
#include "passwords.h"
#include "hex_text.h"
#include "text_util.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <pwquality.h>

#include <cctype>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace tessera::console {
namespace {

constexpr char kAlgorithm[] = "pbkdf2-hmac-sha256";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
constexpr std::size_t kGeneratedPasswordLength = 20;

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

struct ParsedHash {
    unsigned iterations = 0;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> hash;
};

std::optional<ParsedHash> ParseHash(const std::string& encoded) {
    const std::size_t first = encoded.find('$');
    const std::size_t second = encoded.find('$', first + 1);
    const std::size_t third = encoded.find('$', second + 1);
    if (third == std::string::npos || encoded.compare(0, first, kAlgorithm) != 0) return std::nullopt;
    const std::string iterations = encoded.substr(first + 1, second - first - 1);
    if (iterations.empty() || iterations.size() > 9 ||
        iterations.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    std::optional<std::vector<unsigned char>> salt = BytesOfHexText(encoded.substr(second + 1, third - second - 1));
    std::optional<std::vector<unsigned char>> hash = BytesOfHexText(encoded.substr(third + 1));
    if (!salt || !hash || hash->size() != kHashBytes) return std::nullopt;
    return ParsedHash{static_cast<unsigned>(std::stoul(iterations)), std::move(*salt), std::move(*hash)};
}

std::size_t CharacterCount(const std::string& utf8) {
    std::size_t count = 0;
    for (const char byte : utf8) count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

// libpwquality with its composition and repetition rules off: the length is
// checked here, and what remains is its dictionary and user-name checks.
pwquality_settings_t* DictionarySettings() {
    static const std::unique_ptr<pwquality_settings_t, void (*)(pwquality_settings_t*)> settings = [] {
        std::unique_ptr<pwquality_settings_t, void (*)(pwquality_settings_t*)> made(pwquality_default_settings(),
                                                                                    &pwquality_free_settings);
        if (!made) throw std::runtime_error("libpwquality cannot start");
        for (const char* setting :
             {"minlen=6", "dcredit=0", "ucredit=0", "lcredit=0", "ocredit=0", "minclass=0", "maxrepeat=0",
              "maxclassrepeat=0", "maxsequence=0", "gecoscheck=0", "dictcheck=1", "usercheck=1"}) {
            if (pwquality_set_option(made.get(), setting) != 0)
                throw std::runtime_error("libpwquality refused a setting");
        }
        return made;
    }();
    return settings.get();
}

}  // namespace

std::string HashPassword(const std::string& password) {
    std::vector<unsigned char> salt(kSaltBytes);
    FillRandom(salt.data(), salt.size());
    const std::vector<unsigned char> hash = DeriveHash(password, salt, kPasswordHashIterations);
    return EncodedPasswordHash(kPasswordHashIterations, HexText(salt.data(), salt.size()),
                               HexText(hash.data(), hash.size()));
}

std::string EncodedPasswordHash(unsigned iterations, const std::string& salt_hex, const std::string& hash_hex) {
    return std::string(kAlgorithm) + "$" + std::to_string(iterations) + "$" + salt_hex + "$" + hash_hex;
}

bool VerifyPassword(const std::string& encoded, const std::string& password) {
    if (password.size() > kMaxPasswordBytes) return false;
    const std::optional<ParsedHash> parsed = ParseHash(encoded);
    if (!parsed) return false;
    const std::vector<unsigned char> hash = DeriveHash(password, parsed->salt, parsed->iterations);
    return CRYPTO_memcmp(hash.data(), parsed->hash.data(), hash.size()) == 0;
}

const std::string& UnmatchableHash() {
    static const std::string hash = HashPassword(RandomText(kGeneratedPasswordLength));
    return hash;
}

std::string GeneratePassword(const std::string& account_name) {
    constexpr int kMostDraws = 100;
    for (int draw = 0; draw < kMostDraws; ++draw) {
        std::string password = RandomText(kGeneratedPasswordLength);
        if (!PasswordProblem(password, account_name)) return password;
    }
    throw std::runtime_error("no password that the password rule takes could be made");
}

std::string RandomText(std::size_t length, std::string_view alphabet) {
    if (alphabet.empty() || alphabet.size() > 256) throw std::invalid_argument("no alphabet to draw from");
    // Bytes at or above the largest multiple of the alphabet size are drawn
    // again, so every character is equally likely.
    const unsigned unbiased_limit = 256 - 256 % static_cast<unsigned>(alphabet.size());
    std::string text;
    while (text.size() < length) {
        unsigned char byte = 0;
        FillRandom(&byte, 1);
        if (byte < unbiased_limit) text += alphabet[byte % alphabet.size()];
    }
    return text;
}

std::optional<std::string> PasswordProblem(const std::string& password, const std::string& account_name) {
    if (CharacterCount(password) < kMinPasswordLength) {
        return "the password must hold at least " + std::to_string(kMinPasswordLength) + " characters";
    }
    if (password.size() > kMaxPasswordBytes) {
        return "the password must hold at most " + std::to_string(kMaxPasswordBytes) + " bytes";
    }
    // libpwquality looks for names of four characters and more only.
    constexpr std::size_t kShortestNameLooked = 3;
    if (account_name.size() >= kShortestNameLooked &&
        host::FoldAsciiCase(password).find(host::FoldAsciiCase(account_name)) != std::string::npos) {
        return "the password is refused: it contains the account's name";
    }
    // cracklib, which the dictionary check calls, keeps state of its own.
    static std::mutex checking;
    const std::lock_guard lock(checking);
    void* auxiliary = nullptr;
    const int score =
        pwquality_check(DictionarySettings(), password.c_str(), nullptr, account_name.c_str(), &auxiliary);
    if (score >= 0) return std::nullopt;
    char buffer[PWQ_MAX_ERROR_MESSAGE_LEN] = {};
    std::string why = pwquality_strerror(buffer, sizeof buffer, score, auxiliary);
    if (!why.empty()) why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
    return "the password is refused: " + why;
}

}  // namespace tessera::console
