// The web console's TLS certificate: one the administrator gives, or one the
// console makes for itself on first start.
#pragma once

#include <openssl/ssl.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tessera::console {

using TlsContext = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

// OpenSSL's reason for the failure it noted last, and its error queue cleared.
std::string OpenSslReason();

// A server context (TLS 1.2 and later, ECDHE and AEAD ciphers in the server's
// order) with the certificate chain and private
// key of these PEM files. Throws std::runtime_error naming the file and
// OpenSSL's reason when they cannot be read or do not belong together.
TlsContext MakeTlsContext(const std::filesystem::path& certificate_file, const std::filesystem::path& key_file);

struct SelfSignedCertificate {
    std::filesystem::path certificate_file;
    std::filesystem::path key_file;
    bool is_new = false;
};

// `folder`/console.crt and console.key: made on first use (an ECDSA P-256 key,
// valid for 825 days, for `host_names` (DNS names and addresses, the first its
// common name) and localhost), reused after that. The key file is readable by
// its owner only.
SelfSignedCertificate EnsureSelfSignedCertificate(const std::filesystem::path& folder,
                                                  const std::vector<std::string>& host_names);

// "SHA-256 AB:CD:..." of the first certificate in a PEM file, as browsers show it.
std::string CertificateFingerprint(const std::filesystem::path& certificate_file);

}  // namespace tessera::console
