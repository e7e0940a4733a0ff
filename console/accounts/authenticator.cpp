// Authenticator codes through liboath, QR codes through libqrencode.
#include "authenticator.h"
#include "hex_text.h"
#include "passwords.h"
#include "text_util.h"

#include <liboath/oath.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <qrencode.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace tessera::console {
namespace {

constexpr std::size_t kSecretBytes = 20;
constexpr char kIssuer[] = "Tessera";
constexpr std::size_t kTotpWindow = 1;

// liboath wants oath_init() once before anything else.
void StartOath() {
    static const int started = oath_init();
    if (started != OATH_OK) throw std::runtime_error(std::string("liboath cannot start: ") + oath_strerror(started));
}

// What an otpauth URI's label may hold as it is: the URI's unreserved characters.
std::string PercentEncoded(const std::string& text) {
    std::string encoded;
    host::AppendPercentEncoded(encoded, text, [](unsigned char byte) {
        return std::isalnum(byte) || byte == '-' || byte == '.' || byte == '_' || byte == '~';
    });
    return encoded;
}

}  // namespace

std::string NewAuthenticatorSecret() {
    StartOath();
    unsigned char bytes[kSecretBytes] = {};
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("the random number generator failed");
    char* encoded = nullptr;
    std::size_t length = 0;
    if (oath_base32_encode(reinterpret_cast<const char*>(bytes), sizeof bytes, &encoded, &length) != OATH_OK) {
        throw std::runtime_error("cannot encode the authenticator secret");
    }
    const std::unique_ptr<char, void (*)(void*)> owned(encoded, &std::free);
    return std::string(encoded, length);
}

std::string AuthenticatorUri(const std::string& account, const std::string& base32_secret) {
    return std::string("otpauth://totp/") + kIssuer + ":" + PercentEncoded(account) + "?secret=" + base32_secret +
           "&issuer=" + kIssuer + "&algorithm=SHA1&digits=" + std::to_string(kTotpDigits) +
           "&period=" + std::to_string(kTotpStepSeconds);
}

std::string QrCodeSvg(const std::string& text) {
    const std::unique_ptr<QRcode, void (*)(QRcode*)> code(QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M),
                                                          &QRcode_free);
    if (!code) throw std::runtime_error("cannot make the QR code");
    constexpr int kQuietZone = 4;  // modules of white around the symbol, as readers need
    const int size = code->width + 2 * kQuietZone;
    std::string path;
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if ((code->data[y * code->width + x] & 1) != 0) {
                path += "M" + std::to_string(x + kQuietZone) + " " + std::to_string(y + kQuietZone) + "h1v1h-1z";
            }
        }
    }
    const std::string side = std::to_string(size);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + side + " " + side +
           "\" class=\"qr-code\" role=\"img\" aria-label=\"QR code of the authenticator secret\">"
           "<rect width=\"" +
           side + "\" height=\"" + side + "\" fill=\"#fff\"/><path d=\"" + path + "\" fill=\"#000\"/></svg>";
}

std::optional<std::int64_t> AuthenticatorStep(const std::string& base32_secret, const std::string& code,
                                              std::time_t now) {
    StartOath();
    if (code.size() != kTotpDigits || code.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    char* secret = nullptr;
    std::size_t length = 0;
    if (oath_base32_decode(base32_secret.data(), base32_secret.size(), &secret, &length) != OATH_OK) {
        return std::nullopt;
    }
    const std::unique_ptr<char, void (*)(void*)> owned(secret, &std::free);
    int position = 0;
    std::uint64_t counter = 0;
    const int found = oath_totp_validate3(secret, length, now, kTotpStepSeconds, OATH_TOTP_DEFAULT_START_TIME,
                                          kTotpWindow, &position, &counter, code.c_str());
    if (found < 0) return std::nullopt;
    return static_cast<std::int64_t>(counter);
}

std::vector<std::string> NewRecoveryCodes(std::size_t count) {
    std::vector<std::string> codes;
    for (std::size_t index = 0; index < count; ++index) {
        // Small letters and digits only, none that reads as another.
        const std::string code = RandomText(10, "abcdefghjkmnpqrstuvwxyz23456789");
        codes.push_back(code.substr(0, 5) + "-" + code.substr(5));
    }
    return codes;
}

std::string RecoveryCodeHash(const std::string& code) {
    std::string plain;
    for (const unsigned char c : code) {
        if (c != '-' && !std::isspace(c)) plain += static_cast<char>(std::tolower(c));
    }
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    if (EVP_Digest(plain.data(), plain.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return HexText(digest, length);
}

}  // namespace tessera::console
