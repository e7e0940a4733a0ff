// The web console's TLS certificate, given or made.
#include "tls_identity.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace tessera::console {
namespace {

constexpr long kValidityDays = 825;
constexpr char kTls12Ciphers[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

using File = std::unique_ptr<FILE, decltype(&std::fclose)>;

File OpenFile(const std::filesystem::path& path, const char* mode) {
    File file(std::fopen(path.c_str(), mode), &std::fclose);
    if (!file) throw std::runtime_error("cannot open " + path.string());
    return file;
}

bool IsIpAddress(const std::string& text) {
    unsigned char address[16] = {};
    return ::inet_pton(AF_INET, text.c_str(), address) == 1 || ::inet_pton(AF_INET6, text.c_str(), address) == 1;
}

void AddSubjectAltNames(X509* certificate, const std::vector<std::string>& host_names) {
    std::string names = "DNS:localhost,IP:127.0.0.1,IP:::1";
    for (const std::string& name : host_names) {
        if (name != "localhost" && name != "127.0.0.1" && name != "::1") {
            names += (IsIpAddress(name) ? ",IP:" : ",DNS:") + name;
        }
    }
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, names.c_str());
    if (extension == nullptr || X509_add_ext(certificate, extension, -1) != 1) {
        X509_EXTENSION_free(extension);
        throw std::runtime_error("cannot name the certificate's hosts: " + OpenSslReason());
    }
    X509_EXTENSION_free(extension);
}

void MakeCertificate(const std::filesystem::path& certificate_file, const std::filesystem::path& key_file,
                     const std::vector<std::string>& host_names) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), &X509_free);
    if (!key || !certificate) throw std::runtime_error("cannot make a key: " + OpenSslReason());

    X509_set_version(certificate.get(), 2);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> serial_number(BN_new(), &BN_free);
    BN_rand(serial_number.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    BN_to_ASN1_INTEGER(serial_number.get(), X509_get_serialNumber(certificate.get()));
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kValidityDays * 24 * 60 * 60);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    const std::string common_name = host_names.empty() ? "localhost" : host_names.front();
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Tessera console"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(common_name.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    AddSubjectAltNames(certificate.get(), host_names);
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
        throw std::runtime_error("cannot sign the certificate: " + OpenSslReason());
    }

    // The key first, created owner-only; a certificate without its key is useless.
    const std::filesystem::path key_draft = key_file.string() + ".new";
    const std::filesystem::path certificate_draft = certificate_file.string() + ".new";
    {
        const mode_t previous = ::umask(S_IRWXG | S_IRWXO);
        File out = OpenFile(key_draft, "wb");
        ::umask(previous);
        if (PEM_write_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
            std::fflush(out.get()) != 0) {
            throw std::runtime_error("cannot write " + key_draft.string());
        }
    }
    {
        File out = OpenFile(certificate_draft, "wb");
        if (PEM_write_X509(out.get(), certificate.get()) != 1 || std::fflush(out.get()) != 0) {
            throw std::runtime_error("cannot write " + certificate_draft.string());
        }
    }
    std::filesystem::rename(key_draft, key_file);
    std::filesystem::rename(certificate_draft, certificate_file);
}

}  // namespace

std::string OpenSslReason() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown reason";
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

TlsContext MakeTlsContext(const std::filesystem::path& certificate_file, const std::filesystem::path& key_file) {
    TlsContext context(SSL_CTX_new(TLS_server_method()), &SSL_CTX_free);
    if (!context) throw std::runtime_error("cannot set up TLS: " + OpenSslReason());
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    // TLS 1.2 with forward secrecy and an AEAD cipher only (TLS 1.3 has no
    // other kind), in the server's order: no CBC suite and its padding oracles.
    if (SSL_CTX_set_cipher_list(context.get(), kTls12Ciphers) != 1) {
        throw std::runtime_error("cannot choose the TLS ciphers: " + OpenSslReason());
    }
    SSL_CTX_set_options(context.get(), SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (SSL_CTX_use_certificate_chain_file(context.get(), certificate_file.c_str()) != 1) {
        throw std::runtime_error("cannot read the certificate " + certificate_file.string() + ": " + OpenSslReason());
    }
    if (SSL_CTX_use_PrivateKey_file(context.get(), key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
        throw std::runtime_error("cannot read the private key " + key_file.string() + ": " + OpenSslReason());
    }
    if (SSL_CTX_check_private_key(context.get()) != 1) {
        throw std::runtime_error("the private key " + key_file.string() + " does not belong to the certificate " +
                                 certificate_file.string());
    }
    return context;
}

SelfSignedCertificate EnsureSelfSignedCertificate(const std::filesystem::path& folder,
                                                  const std::vector<std::string>& host_names) {
    SelfSignedCertificate made{folder / "console.crt", folder / "console.key", false};
    if (std::filesystem::exists(made.certificate_file) && std::filesystem::exists(made.key_file)) return made;
    std::filesystem::create_directories(folder);
    MakeCertificate(made.certificate_file, made.key_file, host_names);
    made.is_new = true;
    return made;
}

std::string CertificateFingerprint(const std::filesystem::path& certificate_file) {
    File in = OpenFile(certificate_file, "rb");
    std::unique_ptr<X509, decltype(&X509_free)> certificate(PEM_read_X509(in.get(), nullptr, nullptr, nullptr),
                                                            &X509_free);
    if (!certificate) throw std::runtime_error("cannot read the certificate " + certificate_file.string());
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    X509_digest(certificate.get(), EVP_sha256(), digest, &length);
    // OpenSSL writes the digest as browsers show it: "AB:CD:...".
    char text[EVP_MAX_MD_SIZE * 3] = {};
    std::size_t text_length = 0;
    if (OPENSSL_buf2hexstr_ex(text, sizeof text, &text_length, digest, length, ':') != 1) {
        throw std::runtime_error("cannot write the certificate's fingerprint");
    }
    return std::string("SHA-256 ") + text;
}

}  // namespace tessera::console
