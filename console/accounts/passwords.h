// Passwords: how they are hashed and checked, made and judged. A password is
// never stored; its salted PBKDF2-HMAC-SHA-256 hash is, as one text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessera::console {

inline constexpr unsigned kPasswordHashIterations = 310000;
// Long passphrases are welcome; past this the hashing is only a cost.
inline constexpr std::size_t kMinPasswordLength = 12;
inline constexpr std::size_t kMaxPasswordBytes = 1024;

// "pbkdf2-hmac-sha256$ITERATIONS$SALT$HASH" (hexadecimal), with a fresh
// 16-byte salt.
std::string HashPassword(const std::string& password);

// The stored form of an existing hash's parts (as an older account file held them).
std::string EncodedPasswordHash(unsigned iterations, const std::string& salt_hex, const std::string& hash_hex);

// True when `password` is the one `encoded` was made of, compared in constant
// time. False for a hash this console cannot read.
bool VerifyPassword(const std::string& encoded, const std::string& password);

// A hash of a password nobody knows, to verify against when no account
// matches, so that the time taken does not tell which names exist.
const std::string& UnmatchableHash();

inline constexpr std::string_view kUnmistakableCharacters = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";

// `length` random characters of `alphabet`, each as likely as the others.
std::string RandomText(std::size_t length, std::string_view alphabet = kUnmistakableCharacters);
// A random password of 20 such characters that the password rule takes for
// the account `account_name` (the dictionary check refuses the odd random
// text it finds systematic, which is then drawn again).
std::string GeneratePassword(const std::string& account_name);

// Why `password` cannot be the password of `account_name`, in words for its
// owner, or null when it can: at least kMinPasswordLength characters, at most
// kMaxPasswordBytes bytes, no composition rule, and neither a word of
// libpwquality's dictionary nor the account's own name in some form.
std::optional<std::string> PasswordProblem(const std::string& password, const std::string& account_name);

}  // namespace tessera::console
