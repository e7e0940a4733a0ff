// Passkeys (WebAuthn level 2) checked on the server: ES256 and EdDSA keys,
// attestation "none". The attestation object and the key in it are CBOR,
// read through libcbor; signatures are checked through OpenSSL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tessera::console {

// Who asks for the passkey: the relying party id (the console's host name)
// and the origin the browser must report.
struct RelyingParty {
    std::string id;
    std::string origin;
};

// What the store keeps of a passkey.
struct PasskeyKey {
    std::string credential_id;  // base64url
    std::string public_key;     // the SubjectPublicKeyInfo, base64url of its DER
    std::uint32_t sign_count = 0;
};

struct RegistrationResult {
    std::optional<PasskeyKey> key;
    std::string refusal;  // why not, in words for the person registering
};

// A new random challenge for one ceremony, as base64url.
std::string NewPasskeyChallenge();

// Checks navigator.credentials.create()'s answer: the client data says
// "webauthn.create" with `challenge` and `party`'s origin; the attestation is
// "none" over authenticator data for `party`'s id, with the user present
// (and verified when `needs_verification`), and an ES256 or EdDSA key.
RegistrationResult VerifyRegistration(const RelyingParty& party, const std::string& challenge,
                                      const std::string& client_data_json, const std::string& attestation_object,
                                      bool needs_verification);

struct AssertionResult {
    bool is_valid = false;
    bool is_user_verified = false;
    std::uint32_t sign_count = 0;
    std::string refusal;
};

// Checks navigator.credentials.get()'s answer (each part as base64url) with
// the stored `key`: "webauthn.get", the challenge, the origin, the party's
// id, the user present (and verified when asked), the signature over the
// authenticator data and the client data's hash, and a signature counter
// that went forward (a cloned authenticator's would not).
AssertionResult VerifyAssertion(const RelyingParty& party, const std::string& challenge, const PasskeyKey& key,
                                const std::string& client_data_json, const std::string& authenticator_data,
                                const std::string& signature, bool needs_verification);

}  // namespace tessera::console
