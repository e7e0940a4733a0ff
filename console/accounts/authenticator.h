// Authenticator codes (TOTP, RFC 6238: HMAC-SHA-1, 30-second steps, 6
// digits, as every authenticator app reads them) through liboath, the QR code
// that hands an app its secret through libqrencode, and recovery codes.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace tessera::console {

inline constexpr unsigned kTotpStepSeconds = 30;
inline constexpr unsigned kTotpDigits = 6;
inline constexpr std::size_t kRecoveryCodeCount = 10;

// 20 random bytes as base32 text, the form apps take and the store keeps.
std::string NewAuthenticatorSecret();

// The otpauth URI an app reads from the QR code.
std::string AuthenticatorUri(const std::string& account, const std::string& base32_secret);

// The QR code of `text` as an SVG image, every dark module one square of one path.
std::string QrCodeSvg(const std::string& text);

// The time step (seconds since the epoch / 30) whose code `code` is, looking
// one step either side of `now` for a clock that is a little off; null when
// it is none of them or the secret cannot be read.
std::optional<std::int64_t> AuthenticatorStep(const std::string& base32_secret, const std::string& code,
                                              std::time_t now);

// `count` codes of ten characters ("abcde-fghij") without look-alikes.
std::vector<std::string> NewRecoveryCodes(std::size_t count = kRecoveryCodeCount);
// What the store keeps of a recovery code: the SHA-256 of its characters,
// letter case, blanks and dashes left out.
std::string RecoveryCodeHash(const std::string& code);

}  // namespace tessera::console
