// Passkey answers that a real authenticator will not give on demand: each
// check of registration and assertion against answers made here with
// OpenSSL keys and libcbor, one thing wrong at a time.
#include "passkeys.h"
#include "base64url.h"

#include <cbor.h>
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <memory>
#include <string>

namespace tessera::console {
namespace {

const RelyingParty kParty{"localhost", "http://localhost:8080"};
constexpr char kChallenge[] = "Y2hhbGxlbmdlIG9mIHRoZSB0ZXN0";
constexpr unsigned char kPresent = 0x01;
constexpr unsigned char kVerified = 0x04;
constexpr unsigned char kAttested = 0x40;

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

std::string Sha256(const std::string& bytes) {
    unsigned char digest[32] = {};
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string Serialized(cbor_item_t* item) {
    unsigned char* buffer = nullptr;
    std::size_t size = 0;
    const std::size_t length = cbor_serialize_alloc(item, &buffer, &size);
    std::string bytes(reinterpret_cast<const char*>(buffer), length);
    std::free(buffer);
    cbor_decref(&item);
    return bytes;
}

void Put(cbor_item_t* map, cbor_item_t* key, cbor_item_t* value) {
    cbor_map_add(map, {cbor_move(key), cbor_move(value)});
}

cbor_item_t* Bytes(const std::string& bytes) {
    return cbor_build_bytestring(reinterpret_cast<cbor_data>(bytes.data()), bytes.size());
}

// A key of the test's own and its COSE form: ES256 on P-256, or EdDSA on Ed25519.
struct TestKey {
    Key key{nullptr, &EVP_PKEY_free};
    std::string cose;
};

TestKey MakeKey(bool is_eddsa) {
    TestKey made;
    cbor_item_t* map = cbor_new_definite_map(5);
    if (is_eddsa) {
        made.key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
        std::string x(32, '\0');
        std::size_t length = x.size();
        EVP_PKEY_get_raw_public_key(made.key.get(), reinterpret_cast<unsigned char*>(x.data()), &length);
        Put(map, cbor_build_uint8(1), cbor_build_uint8(1));    // kty: OKP
        Put(map, cbor_build_uint8(3), cbor_build_negint8(7));  // alg: -8
        Put(map, cbor_build_negint8(0), cbor_build_uint8(6));  // crv: Ed25519
        Put(map, cbor_build_negint8(1), Bytes(x));
    } else {
        made.key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
        std::string point(65, '\0');
        std::size_t length = 0;
        EVP_PKEY_get_octet_string_param(made.key.get(), OSSL_PKEY_PARAM_PUB_KEY,
                                        reinterpret_cast<unsigned char*>(point.data()), point.size(), &length);
        Put(map, cbor_build_uint8(1), cbor_build_uint8(2));    // kty: EC2
        Put(map, cbor_build_uint8(3), cbor_build_negint8(6));  // alg: -7
        Put(map, cbor_build_negint8(0), cbor_build_uint8(1));  // crv: P-256
        Put(map, cbor_build_negint8(1), Bytes(point.substr(1, 32)));
        Put(map, cbor_build_negint8(2), Bytes(point.substr(33, 32)));
    }
    made.cose = Serialized(map);
    return made;
}

std::string AuthenticatorData(const std::string& rp_id, unsigned char flags, std::uint32_t count,
                              const std::string& attested = {}) {
    std::string data = Sha256(rp_id) + static_cast<char>(flags);
    for (int shift = 24; shift >= 0; shift -= 8) data += static_cast<char>((count >> shift) & 0xFF);
    return data + attested;
}

std::string ClientData(const std::string& type, const std::string& challenge, const std::string& origin) {
    return Base64UrlText(R"({"type":")" + type + R"(","challenge":")" + challenge + R"(","origin":")" + origin + "\"}");
}

std::string Attestation(const std::string& format, const std::string& auth_data) {
    cbor_item_t* map = cbor_new_definite_map(3);
    Put(map, cbor_build_string("fmt"), cbor_build_string(format.c_str()));
    Put(map, cbor_build_string("attStmt"), cbor_new_definite_map(0));
    Put(map, cbor_build_string("authData"), Bytes(auth_data));
    return Base64UrlText(Serialized(map));
}

std::string Signed(EVP_PKEY* key, const std::string& bytes) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    const EVP_MD* digest = EVP_PKEY_get_id(key) == EVP_PKEY_ED25519 ? nullptr : EVP_sha256();
    std::size_t length = 0;
    EVP_DigestSignInit(context.get(), nullptr, digest, nullptr, key);
    EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    std::string signature(length, '\0');
    EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                   reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    signature.resize(length);
    return signature;
}

TEST(Passkeys, ARegistrationIsTakenOnlyAsTheCeremonyAsked) {
    const TestKey key = MakeKey(false);
    const std::string attested = std::string(16, 'A') + std::string("\x00\x04", 2) + "cred" + key.cose;
    const std::string good = AuthenticatorData("localhost", kPresent | kAttested, 0, attested);
    const struct {
        const char* what;
        std::string client_data;
        std::string attestation;
        bool needs_verification;
        const char* refusal;  // empty: taken
    } cases[] = {
        {"as asked", ClientData("webauthn.create", kChallenge, kParty.origin), Attestation("none", good), false, ""},
        {"another challenge", ClientData("webauthn.create", "b3RoZXI", kParty.origin), Attestation("none", good), false,
         "challenge"},
        {"another origin", ClientData("webauthn.create", kChallenge, "http://evil.example"), Attestation("none", good),
         false, "another site"},
        {"an assertion's client data", ClientData("webauthn.get", kChallenge, kParty.origin), Attestation("none", good),
         false, "another kind"},
        {"another relying party", ClientData("webauthn.create", kChallenge, kParty.origin),
         Attestation("none", AuthenticatorData("evil.example", kPresent | kAttested, 0, attested)), false,
         "another site"},
        {"nobody present", ClientData("webauthn.create", kChallenge, kParty.origin),
         Attestation("none", AuthenticatorData("localhost", kAttested, 0, attested)), false, "nobody present"},
        {"user not verified", ClientData("webauthn.create", kChallenge, kParty.origin), Attestation("none", good), true,
         "did not verify"},
        {"an attestation", ClientData("webauthn.create", kChallenge, kParty.origin), Attestation("packed", good), false,
         "asks for none"},
    };
    for (const auto& test : cases) {
        const RegistrationResult result =
            VerifyRegistration(kParty, kChallenge, test.client_data, test.attestation, test.needs_verification);
        EXPECT_EQ(result.key.has_value(), *test.refusal == '\0') << test.what << ": " << result.refusal;
        EXPECT_NE(result.refusal.find(test.refusal), std::string::npos) << test.what << ": " << result.refusal;
    }
}

TEST(Passkeys, AnAssertionIsTakenWithItsKeysSignatureAndACounterThatGoesForward) {
    for (const bool is_eddsa : {false, true}) {
        SCOPED_TRACE(is_eddsa ? "EdDSA" : "ES256");
        const TestKey key = MakeKey(is_eddsa);
        const std::string attested = std::string(16, 'A') + std::string("\x00\x04", 2) + "cred" + key.cose;
        const RegistrationResult registered = VerifyRegistration(
            kParty, kChallenge, ClientData("webauthn.create", kChallenge, kParty.origin),
            Attestation("none", AuthenticatorData("localhost", kPresent | kAttested, 5, attested)), false);
        ASSERT_TRUE(registered.key) << registered.refusal;
        const auto assert_with = [&](unsigned char flags, std::uint32_t count, bool tamper, bool needs_verification) {
            const std::string client_data = ClientData("webauthn.get", kChallenge, kParty.origin);
            const std::string auth_data = AuthenticatorData("localhost", flags, count);
            std::string signature = Signed(key.key.get(), auth_data + Sha256(*Base64UrlBytes(client_data)));
            if (tamper) signature[signature.size() / 2] ^= 1;
            return VerifyAssertion(kParty, kChallenge, *registered.key, client_data, Base64UrlText(auth_data),
                                   Base64UrlText(signature), needs_verification);
        };
        const AssertionResult verified = assert_with(kPresent | kVerified, 6, false, true);
        EXPECT_TRUE(verified.is_valid) << verified.refusal;
        EXPECT_TRUE(verified.is_user_verified);
        EXPECT_EQ(verified.sign_count, 6u);
        EXPECT_NE(assert_with(kPresent, 6, true, false).refusal.find("signature"), std::string::npos);
        EXPECT_NE(assert_with(kPresent, 5, false, false).refusal.find("counter"), std::string::npos)
            << "a copy of the authenticator signs with the count it had";
        EXPECT_NE(assert_with(kPresent, 7, false, true).refusal.find("did not verify"), std::string::npos);
    }
}

}  // namespace
}  // namespace tessera::console
