#include "syslog_collector.h"
#include "process_runner.h"
#include "web_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tessera::test {
namespace {

void Openssl(const std::vector<std::string>& arguments) {
    const ProcessResult made = RunProcess("/usr/bin/openssl", arguments);
    if (made.exit_code != 0) throw std::runtime_error("openssl failed: " + made.standard_error);
}

// A P-256 key and a certificate for it signed by the test authority, with `extensions`.
void Issue(const std::filesystem::path& folder, const std::string& name, const std::string& extensions,
           const TestCertificates& made) {
    const std::string base = (folder / name).string();
    std::ofstream(base + ".ext") << extensions << "\n";
    Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", base + ".key", "-out",
             base + ".csr", "-subj", "/CN=" + name});
    Openssl({"x509", "-req", "-in", base + ".csr", "-CA", made.ca.string(), "-CAkey", (folder / "ca.key").string(),
             "-CAcreateserial", "-days", "2", "-extfile", base + ".ext", "-out", base + ".pem"});
}

// rsyslog's configuration: every message from the input, its structured data
// parsed by mmpstrucdata, written with the header's fields as one JSON object.
std::string Configuration(const std::filesystem::path& folder, int port, const TestCertificates* tls) {
    std::ostringstream text;
    text << "global(workDirectory=\"" << (folder / "work").string() << "\" maxMessageSize=\"64k\"";
    if (tls != nullptr) {
        text << " defaultNetstreamDriverCAFile=\"" << tls->ca.string() << "\" defaultNetstreamDriverCertFile=\""
             << tls->server_certificate.string() << "\" defaultNetstreamDriverKeyFile=\"" << tls->server_key.string()
             << "\"";
    }
    text << ")\n";
    text << (tls != nullptr ? "module(load=\"imtcp\" streamDriver.name=\"gtls\" streamDriver.mode=\"1\""
                              " streamDriver.authMode=\"x509/certvalid\")\n"
                            : "module(load=\"imtcp\")\n");
    text << "module(load=\"mmpstrucdata\")\n"
            "template(name=\"reported_time\" type=\"string\" string=\"%timereported:::date-rfc3339%\")\n"
            "template(name=\"as_json\" type=\"string\" string=\"%$!%\\n\")\n"
            "ruleset(name=\"audit\") {\n"
            "  action(type=\"mmpstrucdata\")\n"
            "  set $!protocol = $protocol-version;\n"
            "  set $!facility = $syslogfacility-text;\n"
            "  set $!severity = $syslogseverity;\n"
            "  set $!app = $app-name;\n"
            "  set $!procid = $procid;\n"
            "  set $!msgid = $msgid;\n"
            "  set $!time = exec_template(\"reported_time\");\n"
            "  set $!msg = $msg;\n"
            "  action(type=\"omfile\" file=\""
         << (folder / "received.json").string()
         << "\" template=\"as_json\" flushOnTXEnd=\"on\" asyncWriting=\"off\")\n"
            "}\n"
            "input(type=\"imtcp\" address=\"127.0.0.1\" port=\""
         << port << "\" listenPortFileName=\"" << (folder / "port").string() << "\" ruleset=\"audit\")\n";
    return text.str();
}

bool IsListening(int port) {
    try {
        ::close(ConnectFrom("127.0.0.1", port));
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

}  // namespace

TestCertificates MakeTestCertificates(const std::filesystem::path& folder) {
    TestCertificates made{folder / "ca.pem", folder / "collector.pem", folder / "collector.key", folder / "console.pem",
                          folder / "console.key"};
    Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
             (folder / "ca.key").string(), "-out", made.ca.string(), "-days", "2", "-subj", "/CN=Tessera test CA"});
    Issue(folder, "collector", "subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth", made);
    Issue(folder, "console", "extendedKeyUsage=clientAuth", made);
    return made;
}

SyslogCollector::SyslogCollector(const TestCertificates* tls) : tls_(tls) {
    std::filesystem::create_directories(folder_.path() / "work");
    Launch(0);
}

SyslogCollector::~SyslogCollector() { Stop(); }

void SyslogCollector::Launch(int port) {
    const std::filesystem::path port_file = folder_.path() / "port";
    std::filesystem::remove(port_file);
    const std::filesystem::path configuration =
        folder_.Write("rsyslog.conf", Configuration(folder_.path(), port, tls_));
    pid_ = StartProcess("/usr/sbin/rsyslogd",
                        {"-n", "-f", configuration.string(), "-i", (folder_.path() / "rsyslogd.pid").string()}, {},
                        {folder_.path() / "stdout.log", folder_.path() / "stderr.log"});
    // rsyslogd writes the port it was given none, and listens on it then: a
    // connection tells that it listens on the port it was given.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        if (port == 0) {
            std::ifstream file(port_file);
            if (int listening = 0; file >> listening && listening > 0) {
                port_ = listening;
                return;
            }
        } else if (IsListening(port)) {
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
            pid_ = -1;
            throw std::runtime_error("rsyslogd did not start: " + ReadWholeFile(folder_.path() / "stderr.log"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void SyslogCollector::Start() { Launch(port_); }

void SyslogCollector::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string SyslogCollector::Url() const {
    return std::string(tls_ != nullptr ? "tls" : "tcp") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<nlohmann::json> SyslogCollector::Received() const {
    std::vector<nlohmann::json> messages;
    std::istringstream lines(ReadWholeFile(folder_.path() / "received.json"));
    for (std::string line; std::getline(lines, line);) {
        if (lines.eof()) break;  // a line still being written
        messages.push_back(nlohmann::json::parse(line));
    }
    return messages;
}

std::vector<nlohmann::json> SyslogCollector::WaitFor(std::size_t count, std::chrono::seconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<nlohmann::json> messages = Received();
    while (messages.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        messages = Received();
    }
    EXPECT_GE(messages.size(), count) << "the collector received too few messages in time";
    return messages;
}

const nlohmann::json& TesseraData(const nlohmann::json& message) {
    return message.at("rfc5424-sd").at("tessera@32473");
}

}  // namespace tessera::test
