// WebAuthn registration and assertion, checked as WebAuthn level 2, sections
// 7.1 and 7.2, say: client data, authenticator data, the COSE key, the
// signature.
#include "passkeys.h"
#include "base64url.h"
#include "hex_text.h"

#include <cbor.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <stdexcept>
#include <string_view>

namespace tessera::console {
namespace {

constexpr unsigned char kUserPresent = 0x01;
constexpr unsigned char kUserVerified = 0x04;
constexpr unsigned char kAttestedCredential = 0x40;
constexpr std::size_t kChallengeBytes = 32;
// COSE (RFC 9053): key types, algorithms and curves the console takes.
constexpr std::int64_t kKeyTypeOkp = 1;
constexpr std::int64_t kKeyTypeEc2 = 2;
constexpr std::int64_t kAlgorithmEs256 = -7;
constexpr std::int64_t kAlgorithmEdDsa = -8;
constexpr std::int64_t kCurveP256 = 1;
constexpr std::int64_t kCurveEd25519 = 6;

using Cbor = std::unique_ptr<cbor_item_t, void (*)(cbor_item_t*)>;
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// A refusal with the words the person is told.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Cbor LoadCbor(std::string_view bytes, std::size_t* read = nullptr) {
    cbor_load_result result{};
    cbor_item_t* item = cbor_load(reinterpret_cast<cbor_data>(bytes.data()), bytes.size(), &result);
    if (item == nullptr || result.error.code != CBOR_ERR_NONE) {
        if (item != nullptr) cbor_decref(&item);
        throw Refused("the authenticator's answer is not readable");
    }
    if (read != nullptr) *read = result.read;
    return Cbor(item, [](cbor_item_t* owned) { cbor_decref(&owned); });
}

std::optional<std::int64_t> IntegerOf(const cbor_item_t* item) {
    if (cbor_isa_uint(item)) return static_cast<std::int64_t>(cbor_get_int(item));
    if (cbor_isa_negint(item)) return -1 - static_cast<std::int64_t>(cbor_get_int(item));
    return std::nullopt;
}

std::optional<std::string> BytesOf(const cbor_item_t* item) {
    if (!cbor_isa_bytestring(item) || !cbor_bytestring_is_definite(item)) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(cbor_bytestring_handle(item)), cbor_bytestring_length(item));
}

std::optional<std::string> TextOf(const cbor_item_t* item) {
    if (!cbor_isa_string(item) || !cbor_string_is_definite(item)) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(cbor_string_handle(item)), cbor_string_length(item));
}

// The value under `key` (an integer or a text) of the CBOR map `map`.
const cbor_item_t* Find(const cbor_item_t* map, std::int64_t key) {
    if (!cbor_isa_map(map)) return nullptr;
    const cbor_pair* pairs = cbor_map_handle(map);
    for (std::size_t index = 0; index < cbor_map_size(map); ++index) {
        if (IntegerOf(pairs[index].key) == key) return pairs[index].value;
    }
    return nullptr;
}

const cbor_item_t* Find(const cbor_item_t* map, std::string_view key) {
    if (!cbor_isa_map(map)) return nullptr;
    const cbor_pair* pairs = cbor_map_handle(map);
    for (std::size_t index = 0; index < cbor_map_size(map); ++index) {
        if (TextOf(pairs[index].key) == key) return pairs[index].value;
    }
    return nullptr;
}

std::string Decoded(const std::string& base64url, const char* what) {
    std::optional<std::string> bytes = Base64UrlBytes(base64url);
    if (!bytes) throw Refused(std::string("the ") + what + " is not base64url");
    return std::move(*bytes);
}

// The client data as the browser wrote it, checked against the ceremony.
void CheckClientData(const std::string& client_data, const char* type, const RelyingParty& party,
                     const std::string& challenge) {
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(client_data);
    } catch (const nlohmann::json::exception&) {
        throw Refused("the browser's client data is not JSON");
    }
    const auto text = [&](const char* name) {
        const auto found = json.find(name);
        return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    if (text("type") != type) throw Refused("the browser answered another kind of request");
    if (challenge.empty() || text("challenge") != challenge) throw Refused("the challenge is not this console's");
    if (text("origin") != party.origin) throw Refused("the browser was on another site: " + text("origin"));
}

struct AuthenticatorData {
    unsigned char flags = 0;
    std::uint32_t sign_count = 0;
    std::string credential_id;
    std::string cose_key;  // CBOR, when a credential is attested
};

AuthenticatorData ParseAuthenticatorData(std::string_view bytes, const RelyingParty& party, bool needs_verification) {
    constexpr std::size_t kHeaderBytes = 32 + 1 + 4;
    if (bytes.size() < kHeaderBytes) throw Refused("the authenticator data is too short");
    if (bytes.substr(0, 32) != Sha256(party.id)) throw Refused("the passkey is for another site");
    AuthenticatorData data;
    data.flags = static_cast<unsigned char>(bytes[32]);
    for (std::size_t index = 33; index < 37; ++index) {
        data.sign_count = (data.sign_count << 8) | static_cast<unsigned char>(bytes[index]);
    }
    if ((data.flags & kUserPresent) == 0) throw Refused("the authenticator saw nobody present");
    if (needs_verification && (data.flags & kUserVerified) == 0) {
        throw Refused("the authenticator did not verify its user (a PIN, a fingerprint)");
    }
    if ((data.flags & kAttestedCredential) != 0) {
        constexpr std::size_t kAaguidBytes = 16;
        std::size_t at = kHeaderBytes + kAaguidBytes;
        if (bytes.size() < at + 2) throw Refused("the authenticator data is too short");
        const std::size_t id_length = (static_cast<std::size_t>(static_cast<unsigned char>(bytes[at])) << 8) |
                                      static_cast<unsigned char>(bytes[at + 1]);
        at += 2;
        if (id_length == 0 || bytes.size() < at + id_length) throw Refused("the credential id is cut short");
        data.credential_id = std::string(bytes.substr(at, id_length));
        at += id_length;
        std::size_t key_length = 0;
        LoadCbor(bytes.substr(at), &key_length);
        data.cose_key = std::string(bytes.substr(at, key_length));
    }
    return data;
}

// The OpenSSL key of a COSE key, ES256 (P-256) or EdDSA (Ed25519) only.
Key KeyOfCose(const std::string& cose) {
    const Cbor map = LoadCbor(cose);
    const std::optional<std::int64_t> type = IntegerOf(Find(map.get(), 1));
    const std::optional<std::int64_t> algorithm = IntegerOf(Find(map.get(), 3));
    const std::optional<std::int64_t> curve = IntegerOf(Find(map.get(), -1));
    const std::optional<std::string> x = BytesOf(Find(map.get(), -2));
    if (type == kKeyTypeOkp && algorithm == kAlgorithmEdDsa && curve == kCurveEd25519 && x && x->size() == 32) {
        Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                            reinterpret_cast<const unsigned char*>(x->data()), x->size()),
                &EVP_PKEY_free);
        if (key) return key;
    }
    const std::optional<std::string> y = BytesOf(Find(map.get(), -3));
    if (type == kKeyTypeEc2 && algorithm == kAlgorithmEs256 && curve == kCurveP256 && x && y && x->size() == 32 &&
        y->size() == 32) {
        const std::string point = "\x04" + *x + *y;
        std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> build(OSSL_PARAM_BLD_new(),
                                                                              &OSSL_PARAM_BLD_free);
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
            EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr), &EVP_PKEY_CTX_free);
        EVP_PKEY* made = nullptr;
        if (build && context &&
            OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "P-256", 0) == 1 &&
            OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) == 1) {
            std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)> params(OSSL_PARAM_BLD_to_param(build.get()),
                                                                           &OSSL_PARAM_free);
            if (params && EVP_PKEY_fromdata_init(context.get()) == 1 &&
                EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()) == 1) {
                return Key(made, &EVP_PKEY_free);
            }
        }
    }
    throw Refused("the passkey's key is neither ES256 nor EdDSA");
}

// Written into a buffer of its own: OpenSSL's free would name this file in the program.
std::string SubjectPublicKeyInfo(EVP_PKEY* key) {
    const int length = i2d_PUBKEY(key, nullptr);
    if (length <= 0) throw std::runtime_error("cannot write the passkey's key");
    std::string bytes(static_cast<std::size_t>(length), '\0');
    auto* out = reinterpret_cast<unsigned char*>(bytes.data());
    if (i2d_PUBKEY(key, &out) != length) throw std::runtime_error("cannot write the passkey's key");
    return bytes;
}

bool IsSignatureValid(const std::string& spki, const std::string& signed_bytes, const std::string& signature) {
    const auto* der = reinterpret_cast<const unsigned char*>(spki.data());
    Key key(d2i_PUBKEY(nullptr, &der, static_cast<long>(spki.size())), &EVP_PKEY_free);
    if (!key) return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    // Ed25519 signs the message itself; ES256 its SHA-256.
    const EVP_MD* digest = EVP_PKEY_get_id(key.get()) == EVP_PKEY_ED25519 ? nullptr : EVP_sha256();
    return context && EVP_DigestVerifyInit(context.get(), nullptr, digest, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(signed_bytes.data()), signed_bytes.size()) == 1;
}

}  // namespace

std::string NewPasskeyChallenge() {
    unsigned char bytes[kChallengeBytes] = {};
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("the random number generator failed");
    return Base64UrlText(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

RegistrationResult VerifyRegistration(const RelyingParty& party, const std::string& challenge,
                                      const std::string& client_data_json, const std::string& attestation_object,
                                      bool needs_verification) {
    try {
        CheckClientData(Decoded(client_data_json, "client data"), "webauthn.create", party, challenge);
        const Cbor attestation = LoadCbor(Decoded(attestation_object, "attestation"));
        if (TextOf(Find(attestation.get(), std::string_view("fmt"))) != std::string("none")) {
            throw Refused("the authenticator sent an attestation; the console asks for none");
        }
        const std::optional<std::string> auth_data = BytesOf(Find(attestation.get(), std::string_view("authData")));
        if (!auth_data) throw Refused("the attestation holds no authenticator data");
        const AuthenticatorData data = ParseAuthenticatorData(*auth_data, party, needs_verification);
        if (data.credential_id.empty()) throw Refused("the authenticator made no credential");
        const Key key = KeyOfCose(data.cose_key);
        return {PasskeyKey{Base64UrlText(data.credential_id), Base64UrlText(SubjectPublicKeyInfo(key.get())),
                           data.sign_count},
                {}};
    } catch (const Refused& refused) {
        return {std::nullopt, refused.what()};
    }
}

AssertionResult VerifyAssertion(const RelyingParty& party, const std::string& challenge, const PasskeyKey& key,
                                const std::string& client_data_json, const std::string& authenticator_data,
                                const std::string& signature, bool needs_verification) {
    AssertionResult result;
    try {
        const std::string client_data = Decoded(client_data_json, "client data");
        CheckClientData(client_data, "webauthn.get", party, challenge);
        const std::string auth_data = Decoded(authenticator_data, "authenticator data");
        const AuthenticatorData data = ParseAuthenticatorData(auth_data, party, needs_verification);
        const std::optional<std::string> spki = Base64UrlBytes(key.public_key);
        if (!spki || !IsSignatureValid(*spki, auth_data + Sha256(client_data), Decoded(signature, "signature"))) {
            throw Refused("the passkey's signature is not valid");
        }
        if ((data.sign_count != 0 || key.sign_count != 0) && data.sign_count <= key.sign_count) {
            throw Refused("the passkey's counter went back: it may have been copied");
        }
        result.is_valid = true;
        result.is_user_verified = (data.flags & kUserVerified) != 0;
        result.sign_count = data.sign_count;
    } catch (const Refused& refused) {
        result.refusal = refused.what();
    }
    return result;
}

}  // namespace tessera::console
