// A real syslog collector for the forwarding tests: Debian's rsyslogd, started
// as the test's own user with a configuration of its own on a loopback port,
// writing each message it receives as rsyslog parsed it (RFC 5424 header
// fields and the structured data) as one JSON line.
#pragma once

#include "temp_folder.h"

#include <nlohmann/json.hpp>

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tessera::test {

// A certificate authority, the collector's certificate from it for 127.0.0.1,
// and a client certificate from it, made with openssl in `folder`.
struct TestCertificates {
    std::filesystem::path ca, server_certificate, server_key, client_certificate, client_key;
};
TestCertificates MakeTestCertificates(const std::filesystem::path& folder);

class SyslogCollector {
public:
    // Over TLS with `tls`, asking the console for a client certificate from
    // the same authority; else plain TCP. Started at once on a free port.
    explicit SyslogCollector(const TestCertificates* tls = nullptr);
    ~SyslogCollector();
    SyslogCollector(const SyslogCollector&) = delete;
    SyslogCollector& operator=(const SyslogCollector&) = delete;

    // Starts it again on the port it had; returns once it listens.
    void Start();
    // SIGTERM, and waits until it has ended.
    void Stop();

    std::string Url() const;  // tcp://127.0.0.1:PORT or tls://...
    // Every message received so far, oldest first.
    std::vector<nlohmann::json> Received() const;
    // Waits until `count` messages have arrived, or fails the test after `timeout`.
    std::vector<nlohmann::json> WaitFor(std::size_t count,
                                        std::chrono::seconds timeout = std::chrono::seconds(60)) const;

private:
    void Launch(int port);

    TempFolder folder_{"tessera-collector"};
    const TestCertificates* tls_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// The structured data element the console writes, as rsyslog parsed it.
const nlohmann::json& TesseraData(const nlohmann::json& message);

}  // namespace tessera::test
