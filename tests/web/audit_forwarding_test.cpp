// Forwarding the audit records to a real rsyslog over TCP and TLS: each record
// arrives once, in order, as RFC 5424 with its structured data whole, through
// a collector's absence and a console's restart.
#include "process_runner.h"
#include "syslog_collector.h"
#include "test_paths.h"
#include "web_fixture.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>
#include <thread>

namespace tessera::test {
namespace {

using std::chrono::seconds;

ServeOptions ForwardingTo(const std::string& url, std::vector<std::string> more = {},
                          const std::filesystem::path& data_dir = {}) {
    ServeOptions options;
    options.data_dir = data_dir;
    options.extra_arguments = {"--audit-syslog", url};
    options.extra_arguments.insert(options.extra_arguments.end(), more.begin(), more.end());
    return options;
}

void Save(const ConsoleServer& console, const std::string& cookie, const std::string& fields) {
    const httplib::Result saved = console.Client().Post(kSettingsPath, console.FormHeaders(cookie),
                                                        "FormAction=save&txtPolicyInstanceId=URL_FILTER&" + fields,
                                                        "application/x-www-form-urlencoded");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->status, 200);
}

std::string Forwarding(const ConsoleServer& console) {
    return RunConsole({"audit", "forwarding", "--data", console.DataDir().string()});
}

// Every record the store holds, each once and in order.
void ExpectEveryRecordOnce(const std::vector<nlohmann::json>& received, std::size_t stored) {
    std::vector<std::int64_t> seqs;
    for (const nlohmann::json& message : received)
        seqs.push_back(std::stoll(TesseraData(message).at("seq").get<std::string>()));
    std::vector<std::int64_t> expected(stored);
    for (std::size_t index = 0; index < stored; ++index) expected[index] = static_cast<std::int64_t>(index + 1);
    EXPECT_EQ(seqs, expected);
}

TEST(AuditForwarding, EveryRecordArrivesOnceInOrderAsRfc5424WithItsStructuredData) {
    SyslogCollector collector;
    ConsoleServer console(ForwardingTo(collector.Url()));
    const httplib::Result refused =
        console.Client().Post("/login", httplib::Headers{{"Origin", console.Origin()}}, "username=admin&password=wrong",
                              "application/x-www-form-urlencoded");
    ASSERT_TRUE(refused);
    const std::string cookie = console.SignIn();
    // Quotes, a backslash and a bracket are what RFC 5424 escapes in a parameter's value.
    Save(console, cookie,
         "rdoSecurityLevel=Low&txtSenderSubject=" + httplib::detail::encode_query_param("Say \"no\" \\ [now]") +
             "&stApprovedURL=one.example&stApprovedURL=two.example");
    ASSERT_TRUE(console.Client().Post(kSettingsPath, console.FormHeaders(cookie),
                                      "FormAction=Reset&txtPolicyInstanceId=URL_FILTER",
                                      "application/x-www-form-urlencoded"));
    const TempFolder lists("tessera-list");
    RunConsole(
        {"list", "import", lists.Write("sites.txt", "three.example\n").string(), "--data", console.DataDir().string()});
    ASSERT_TRUE(console.Client().Post("/logout", console.FormHeaders(cookie), "", "application/x-www-form-urlencoded"));

    const std::size_t stored = AuditRecordCount(console.DataDir());
    const std::vector<nlohmann::json> received = collector.WaitFor(stored);
    ExpectEveryRecordOnce(received, stored);
    std::map<std::string, nlohmann::json> by_action;
    for (const nlohmann::json& message : received) {
        EXPECT_EQ(message.at("protocol"), "1");
        EXPECT_EQ(message.at("facility"), "authpriv");
        EXPECT_EQ(message.at("app"), "tessera-console");
        EXPECT_EQ(message.at("msgid"), TesseraData(message).at("action"));
        EXPECT_EQ(TesseraData(message).at("chain").get<std::string>().size(), 64u);
        by_action.emplace(message.at("msgid").get<std::string>() + " " + TesseraData(message).value("channel", ""),
                          message);
    }
    EXPECT_EQ(std::to_string(stored) + ":" + TesseraData(received.back()).at("chain").get<std::string>() + "\n",
              RunConsole({"audit", "head", "--data", console.DataDir().string()}));

    const nlohmann::json& save = by_action.at("save browser");
    EXPECT_EQ(save.at("severity"), "5");
    EXPECT_EQ(TesseraData(save).at("user"), "admin");
    EXPECT_EQ(TesseraData(save).at("address"), "127.0.0.1");
    EXPECT_EQ(TesseraData(save).at("channel"), "browser");
    const std::string changed = TesseraData(save).at("changed");
    EXPECT_NE(changed.find("2 entries added, 3 removed"), std::string::npos) << changed;
    EXPECT_NE(changed.find("Security level Medium -> Low"), std::string::npos) << changed;
    EXPECT_NE(changed.find("Sender subject \"Your message contained a blocked link\" -> \"Say \"no\" \\ [now]\""),
              std::string::npos)
        << changed;
    EXPECT_NE(save.at("msg").get<std::string>().find("admin from 127.0.0.1 in the browser: "), std::string::npos);
    EXPECT_EQ(by_action.at("sign-in-failed ").at("severity"), "4");
    EXPECT_EQ(by_action.at("sign-in ").at("severity"), "6");
    for (const char* action : {"reset browser", "save command line", "sign-out "}) {
        EXPECT_EQ(by_action.count(action), 1u) << action;
    }

    const std::string progress = Forwarding(console);
    EXPECT_NE(progress.find(collector.Url() + ": every record up to " + std::to_string(stored) + " delivered"),
              std::string::npos)
        << progress;
    EXPECT_NE(progress.find("; 0 waiting."), std::string::npos) << progress;
    const httplib::Result history = console.Client().Get("/history", {{"Cookie", console.SignIn()}});
    ASSERT_TRUE(history);
    EXPECT_NE(history->body.find(collector.Url() + ": every record up to"), std::string::npos);
}

TEST(AuditForwarding, ACollectorAwayForThirtySecondsDuringSavesMissesNothingAndGetsNothingTwice) {
    SyslogCollector collector;
    ConsoleServer console(ForwardingTo(collector.Url()));
    const std::string cookie = console.SignIn();
    Save(console, cookie, "rdoSecurityLevel=High");
    collector.WaitFor(AuditRecordCount(console.DataDir()));

    collector.Stop();
    const auto back_at = std::chrono::steady_clock::now() + seconds(30);
    for (int save = 0; std::chrono::steady_clock::now() < back_at; ++save) {
        Save(console, cookie, save % 2 == 0 ? "rdoSecurityLevel=Low" : "rdoSecurityLevel=High");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    const std::string away = Forwarding(console);
    EXPECT_NE(away.find("Last error at "), std::string::npos) << away;
    EXPECT_NE(away.find("cannot connect"), std::string::npos) << away;
    EXPECT_EQ(away.find("; 0 waiting."), std::string::npos) << away;

    collector.Start();
    Save(console, cookie, "rdoSecurityLevel=Mid");
    const std::size_t stored = AuditRecordCount(console.DataDir());
    collector.WaitFor(stored);
    // Anything sent twice would arrive after the last record.
    ASSERT_TRUE(console.Client().Post("/logout", console.FormHeaders(cookie), "", "application/x-www-form-urlencoded"));
    ExpectEveryRecordOnce(collector.WaitFor(stored + 1), stored + 1);
}

TEST(AuditForwarding, RecordsLeftUnsentWhenTheConsoleStoppedGoAfterItStartsAgain) {
    SyslogCollector collector;
    collector.Stop();
    std::filesystem::path data_dir;
    const TempFolder data("tessera-data");
    {
        ConsoleServer console(ForwardingTo(collector.Url(), {}, data.path()));
        const std::string cookie = console.SignIn();
        Save(console, cookie, "rdoSecurityLevel=Low");
        Save(console, cookie, "rdoSecurityLevel=High");
        EXPECT_EQ(console.Stop(), 0);
    }
    const std::size_t stored = AuditRecordCount(data.path());
    ASSERT_GE(stored, 4u);
    EXPECT_TRUE(collector.Received().empty());
    collector.Start();
    ConsoleServer restarted(ForwardingTo(collector.Url(), {}, data.path()));
    ExpectEveryRecordOnce(collector.WaitFor(stored), stored);
}

TEST(AuditForwarding, OverTlsTheCollectorsCertificateIsCheckedAndTheConsolesShown) {
    const TempFolder folder("tessera-certificates");
    std::filesystem::create_directories(folder.path() / "other");
    const TestCertificates certificates = MakeTestCertificates(folder.path());
    const TestCertificates strangers = MakeTestCertificates(folder.path() / "other");
    SyslogCollector collector(&certificates);
    const std::string ca = certificates.ca.string();
    const std::vector<std::string> client = {"--audit-syslog-cert", certificates.client_certificate.string(),
                                             "--audit-syslog-key", certificates.client_key.string()};
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        const char* error;  // null: every record arrives
    };
    std::vector<std::string> trusted = {"--audit-syslog-ca", ca};
    trusted.insert(trusted.end(), client.begin(), client.end());
    std::vector<std::string> no_client = {"--audit-syslog-ca", ca};
    std::vector<std::string> other_ca = {"--audit-syslog-ca", strangers.ca.string()};
    other_ca.insert(other_ca.end(), client.begin(), client.end());
    const Case cases[] = {
        {"a collector the console trusts, and a client certificate it trusts", trusted, nullptr},
        {"a collector from another authority", other_ca, "the collector's certificate is refused"},
        {"no client certificate", no_client, "tls://"},
    };
    std::size_t delivered = 0;
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        ConsoleServer console(ForwardingTo(collector.Url(), each.arguments));
        console.SignIn();
        const std::size_t stored = AuditRecordCount(console.DataDir());
        if (each.error == nullptr) {
            const std::vector<nlohmann::json> received = collector.WaitFor(stored);
            ExpectEveryRecordOnce(received, stored);
            delivered = received.size();
            continue;
        }
        std::string progress;
        const auto deadline = std::chrono::steady_clock::now() + seconds(30);
        while (progress.find("Last error") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            progress = Forwarding(console);
        }
        EXPECT_NE(progress.find(each.error), std::string::npos) << progress;
        EXPECT_NE(progress.find("nothing delivered yet"), std::string::npos) << progress;
        EXPECT_EQ(collector.Received().size(), delivered);
    }
}

// Where sd_journal_send writes; the test stands in for journald there when none runs.
constexpr char kJournalSocket[] = "/run/systemd/journal/socket";

class JournalStandIn {
public:
    JournalStandIn() {
        std::filesystem::create_directories(std::filesystem::path(kJournalSocket).parent_path());
        socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, kJournalSocket, sizeof address.sun_path - 1);
        if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error(std::string("cannot bind ") + kJournalSocket);
        }
        const timeval patience{30, 0};
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    }
    ~JournalStandIn() {
        ::close(socket_);
        std::filesystem::remove(kJournalSocket);
    }
    // One entry's fields (KEY=VALUE lines: no value here holds a line feed), empty after 30 s.
    std::map<std::string, std::string> Receive() const {
        std::string datagram(65536, '\0');
        const ssize_t got = ::recv(socket_, datagram.data(), datagram.size(), 0);
        std::map<std::string, std::string> fields;
        std::istringstream lines(datagram.substr(0, got > 0 ? static_cast<std::size_t>(got) : 0));
        for (std::string line; std::getline(lines, line);) {
            const std::size_t equals = line.find('=');
            if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
        }
        return fields;
    }

private:
    int socket_ = -1;
};

TEST(AuditForwarding, TheJournalGetsEveryRecordWithItsFieldsOnceItRuns) {
    if (std::filesystem::exists(kJournalSocket) || ::geteuid() != 0) {
        GTEST_SKIP() << "a journal runs here, or the test may not stand in for one at " << kJournalSocket;
    }
    ServeOptions options;
    options.extra_arguments = {"--audit-journal"};
    ConsoleServer console(options);
    const std::string cookie = console.SignIn();
    Save(console, cookie, "rdoSecurityLevel=Low");
    std::string progress;
    for (const auto deadline = std::chrono::steady_clock::now() + seconds(30);
         progress.find("Last error") == std::string::npos && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        progress = Forwarding(console);
    }
    EXPECT_NE(progress.find("journal: nothing delivered yet"), std::string::npos) << progress;
    EXPECT_NE(progress.find("the journal does not run"), std::string::npos) << progress;

    const JournalStandIn journal;
    const std::size_t stored = AuditRecordCount(console.DataDir());
    std::vector<std::map<std::string, std::string>> entries;
    for (std::size_t index = 0; index < stored; ++index) entries.push_back(journal.Receive());
    for (std::size_t index = 0; index < stored; ++index) {
        EXPECT_EQ(entries[index]["TESSERA_SEQ"], std::to_string(index + 1));
        EXPECT_EQ(entries[index]["SYSLOG_FACILITY"], "10");
        EXPECT_EQ(entries[index]["SYSLOG_IDENTIFIER"], "tessera-console");
        EXPECT_EQ(entries[index]["TESSERA_CHAIN"].size(), 64u);
    }
    const std::map<std::string, std::string>& save = entries.back();
    EXPECT_EQ(save.at("TESSERA_ACTION"), "save");
    EXPECT_EQ(save.at("PRIORITY"), "5");
    EXPECT_EQ(save.at("TESSERA_CHANNEL"), "browser");
    EXPECT_NE(save.at("TESSERA_CHANGED").find("Security level Medium -> Low"), std::string::npos);
    EXPECT_NE(save.at("MESSAGE").find("admin from 127.0.0.1 in the browser: "), std::string::npos);
}

TEST(AuditForwarding, AnAddressOrCertificateItCannotUseIsRefusedAtTheStart) {
    const TempFolder folder("tessera-certificates");
    const std::string file = folder.Write("ca.pem", "not a certificate\n").string();
    const std::vector<std::string> refused[] = {
        {"--audit-syslog", "udp://127.0.0.1:514"},
        {"--audit-syslog", "tcp://127.0.0.1"},
        {"--audit-syslog", "tcp://127.0.0.1:0"},
        {"--audit-syslog", "tcp://127.0.0.1:514", "--audit-syslog-ca", file},
        {"--audit-syslog", "tls://127.0.0.1:6514", "--audit-syslog-ca", file},
    };
    for (const std::vector<std::string>& arguments : refused) {
        std::vector<std::string> command = {"serve", "--listen", "127.0.0.1:0", "--data",
                                            (folder.path() / "data").string()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ProcessResult result =
            RunProcess(ConsolePath(), command, {{}, {{"TESSERA_ADMIN_PASSWORD", kAdminPassword}}});
        EXPECT_EQ(result.exit_code, 2) << arguments.back() << ": " << result.standard_error;
        EXPECT_NE(result.standard_error.find("--audit-syslog"), std::string::npos) << result.standard_error;
    }
}

}  // namespace
}  // namespace tessera::test
