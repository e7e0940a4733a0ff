// The web console against hostile and slow clients: what changes by GET, who
// may hold a connection, and many writers at once.
#include "web_fixture.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <thread>

namespace tessera::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string SaveForm(const std::string& fields) { return "FormAction=save&txtPolicyInstanceId=URL_FILTER&" + fields; }

// True when the console has closed `fd` (after a response or not).
bool IsClosedByConsole(int fd) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) return true;
        if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
    }
}

// The subject alternative names of a PEM certificate, as "DNS:name" and "IP:address".
std::vector<std::string> CertificateNames(const std::filesystem::path& file) {
    std::vector<std::string> names;
    FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) return names;
    X509* certificate = PEM_read_X509(in, nullptr, nullptr, nullptr);
    std::fclose(in);
    if (certificate == nullptr) return names;
    auto* general_names =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int index = 0; index < sk_GENERAL_NAME_num(general_names); ++index) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(general_names, index);
        if (name->type == GEN_DNS) {
            names.push_back("DNS:" + std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                                                 ASN1_STRING_length(name->d.dNSName)));
        } else if (name->type == GEN_IPADD && ASN1_STRING_length(name->d.iPAddress) == 4) {
            const unsigned char* octets = ASN1_STRING_get0_data(name->d.iPAddress);
            names.push_back("IP:" + std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." +
                            std::to_string(octets[2]) + "." + std::to_string(octets[3]));
        }
    }
    GENERAL_NAMES_free(general_names);
    X509_free(certificate);
    return names;
}

// The cipher a TLS 1.2 handshake with only `ciphers` on offer settles on, or
// empty when the server takes none of them.
std::string NegotiatedTls12Cipher(int port, const char* ciphers) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
    std::string chosen;
    if (SSL_CTX_set_cipher_list(context, ciphers) == 1) {
        const int fd = ConnectFrom("127.0.0.1", port);
        SSL* connection = SSL_new(context);
        SSL_set_fd(connection, fd);
        if (SSL_connect(connection) == 1) chosen = SSL_get_cipher_name(connection);
        SSL_free(connection);
        ::close(fd);
    }
    SSL_CTX_free(context);
    return chosen;
}

TEST(StateChanges, OnlyAPostChangesAnything) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const auto list_before = StoredApprovedList(console.DataDir());
    const std::size_t audit_before = AuditRecordCount(console.DataDir());
    // As an <img> on another port of this host would send them, with the session cookie.
    const std::vector<std::string> same_site = {"Cookie: " + cookie, "Sec-Fetch-Site: same-site"};
    for (const std::string request_line : {
             "GET /scan/WebThreat_Protection.htm?FormAction=save&txtDeliverAct_Replace=X HTTP/1.1",
             "GET /scan/WebThreat_Protection.htm?formaction=RESET&txtPolicyInstanceId=URL_FILTER HTTP/1.1",
             "HEAD /scan/WebThreat_Protection.htm?FORMACTION=save HTTP/1.1",
             "GET /scan/WebThreatProtection_Export.htm?approved_list=a.com HTTP/1.1",
             "GET /SCAN/webthreatprotection_import.htm HTTP/1.1",
             "GET /logout HTTP/1.1",
             "GET /history/restore?seq=1 HTTP/1.1",
         }) {
        const std::string response = console.Exchange(request_line, same_site);
        EXPECT_EQ(RawStatus(response), 405) << request_line;
        EXPECT_EQ(RawHeader(response, "Allow"), "POST") << request_line;
    }
    EXPECT_EQ(StoredApprovedList(console.DataDir()), list_before);
    EXPECT_EQ(AuditRecordCount(console.DataDir()), audit_before);
    const httplib::Result still_signed_in = console.Client().Get(
        "/scan/WebThreat_Protection.htm?txtPolicyInstanceId=URL_FILTER_FILE", console.FormHeaders(cookie));
    ASSERT_TRUE(still_signed_in);
    EXPECT_EQ(still_signed_in->status, 200)
        << "a GET of the page may name its policy, and GET /logout signed nobody out";
}

TEST(Transactions, TenClientsSavingTheirOwnFieldEachKeepTheirLastAcknowledgedValue) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"txtDeliverAct_Replace", "ActionReplaceAll"}, {"txtDeliverAct_AddNote", "ActionTagFrontNote"},
        {"txtAdminInstant", "AdminSIPAddress"},        {"txtAdminEmail", "AdminEmailAddress"},
        {"txtNotifyAdminSubject", "AdminSubject"},     {"txtAdminMessage", "AdminMessage"},
        {"txtSenderSubject", "SenderSubject"},         {"txtSenderMessage", "SenderMessage"},
        {"txtRecieverSubject", "RecipientSubject"},    {"txtRecieverMessage", "RecipientMessage"},
    };
    const auto end = Clock::now() + 30s;
    std::vector<std::future<std::string>> clients;
    for (const auto& [field, property] : fields) {
        clients.push_back(std::async(std::launch::async, [&, field = field] {
            httplib::Client client = console.Client();
            std::string acknowledged;
            for (int round = 0; Clock::now() < end; ++round) {
                const std::string value = field + "-" + std::to_string(round);
                const httplib::Result result =
                    client.Post(kSettingsPath, console.FormHeaders(cookie), SaveForm(field + "=" + value),
                                "application/x-www-form-urlencoded");
                if (result && result->status == 200) acknowledged = value;
            }
            return acknowledged;
        }));
    }
    for (std::size_t index = 0; index < fields.size(); ++index) {
        const std::string acknowledged = clients[index].get();
        EXPECT_FALSE(acknowledged.empty()) << fields[index].first;
        EXPECT_EQ(StoredPolicyText(console.DataDir(), "URL_FILTER", fields[index].second), acknowledged)
            << fields[index].first;
    }
}

TEST(Connections, SlowClientsFromAnotherAddressNeitherDelayASignedInPageNorOutliveTheirDeadline) {
    ServeOptions options;
    options.extra_arguments = {"--header-timeout", "2"};
    ConsoleServer console(options);
    const std::string cookie = console.SignIn();
    std::vector<int> slow;
    for (int index = 0; index < 200; ++index) {
        const int fd = ConnectFrom("127.0.0.2", console.Port());
        ::send(fd, "GET /login HTTP/1.1\r\n", 21, MSG_NOSIGNAL);
        slow.push_back(fd);
    }
    const auto trickle_start = Clock::now();
    const auto closed = [&] {
        return std::count_if(slow.begin(), slow.end(), [](int fd) { return IsClosedByConsole(fd); });
    };
    const httplib::Result page = console.Client().Get(kSettingsPath, console.FormHeaders(cookie));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_LT(Clock::now() - trickle_start, 1s);
    // Connections over the address's share are closed at once, long before the deadline.
    EXPECT_GE(closed(), 100) << "one address may hold only so many connections";

    // A header line now and then restarts no clock: the headers' deadline is for them all.
    while (closed() < 200 && Clock::now() - trickle_start < 8s) {
        for (int fd : slow) ::send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL | MSG_DONTWAIT);
        std::this_thread::sleep_for(250ms);
    }
    EXPECT_EQ(closed(), 200);
    EXPECT_LT(Clock::now() - trickle_start, 6s);
    for (int fd : slow) ::close(fd);
}

TEST(Https, GivenAndMadeCertificatesServeWithASecureCookieAndHsts) {
    ServeOptions made_options;
    made_options.listen = "0.0.0.0:0";  // not loopback: HTTPS unless told otherwise
    ConsoleServer made(made_options);
    EXPECT_NE(made.StandardOutput().find("Made a self-signed certificate"), std::string::npos);
    EXPECT_NE(made.StandardOutput().find("fingerprint, to compare with the browser's: SHA-256 "), std::string::npos);
    const std::filesystem::path certificate = made.DataDir() / "tls" / "console.crt";
    const std::filesystem::path key = made.DataDir() / "tls" / "console.key";
    EXPECT_EQ(std::filesystem::status(key).permissions() & std::filesystem::perms::group_all,
              std::filesystem::perms::none);

    ServeOptions given_options;
    given_options.extra_arguments = {"--tls-cert", certificate.string(), "--tls-key", key.string()};
    ConsoleServer given(given_options);
    for (const ConsoleServer* console : {&made, &given}) {
        EXPECT_EQ(console->Origin().rfind("https://", 0), 0u);
        const httplib::Result signed_in =
            console->Client().Post("/login", httplib::Headers{{"Origin", console->Origin()}},
                                   "username=admin&password=" + httplib::detail::encode_query_param(kAdminPassword),
                                   "application/x-www-form-urlencoded");
        ASSERT_TRUE(signed_in);
        EXPECT_EQ(signed_in->status, 303);
        EXPECT_NE(signed_in->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
        EXPECT_EQ(signed_in->get_header_value("Strict-Transport-Security"), "max-age=31536000");
    }
    // On every address, the console is named by the machine's own names, never 0.0.0.0.
    EXPECT_EQ(made.StandardOutput().find("0.0.0.0"), std::string::npos) << made.StandardOutput();
    char host_name[256] = {};
    ASSERT_EQ(::gethostname(host_name, sizeof host_name - 1), 0);
    const std::vector<std::string> names = CertificateNames(certificate);
    EXPECT_NE(std::find(names.begin(), names.end(), "DNS:" + std::string(host_name)), names.end())
        << testing::PrintToString(names);
    EXPECT_NE(made.StandardOutput().find("open https://" + std::string(host_name) + ":"), std::string::npos)
        << made.StandardOutput();
    EXPECT_EQ(std::find(names.begin(), names.end(), "IP:0.0.0.0"), names.end());

    ServeOptions plain_options;
    plain_options.listen = "0.0.0.0:0";
    plain_options.extra_arguments = {"--insecure-http"};
    const ConsoleServer plain(plain_options);
    EXPECT_EQ(plain.Origin().rfind("http://", 0), 0u);
}

// TLS 1.2 only with forward secrecy and an AEAD cipher, chosen in the server's order.
TEST(Https, OffersNoCbcSuiteAndChoosesInItsOwnOrder) {
    ServeOptions options;
    options.listen = "0.0.0.0:0";
    const ConsoleServer console(options);
    const struct {
        const char* client_ciphers;
        const char* chosen;  // nullptr: no handshake
    } cases[] = {
        {"ECDHE-ECDSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA:ECDHE-ECDSA-AES128-SHA256", nullptr},
        {"AES128-GCM-SHA256:AES256-GCM-SHA384", nullptr},  // no forward secrecy
        {"ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-GCM-SHA256",
         "ECDHE-ECDSA-AES128-GCM-SHA256"},
        {"ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-ECDSA-AES128-SHA", "ECDHE-ECDSA-CHACHA20-POLY1305"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.client_ciphers);
        EXPECT_EQ(NegotiatedTls12Cipher(console.Port(), each.client_ciphers), each.chosen ? each.chosen : "");
    }
}

TEST(DataFolder, OneConsoleServesAFolderAndItsFilesAreItsOwnersAlone) {
    ServeOptions options;
    options.environment = {{"TESSERA_LOG_MAX_BYTES", "4096"}};
    ConsoleServer console(options);
    const std::string cookie = console.SignIn();
    httplib::Client client = console.Client();
    for (int index = 0; index < 80; ++index) client.Get(kSettingsPath, console.FormHeaders(cookie));

    try {
        ServeOptions second;
        second.data_dir = console.DataDir();
        ConsoleServer other(second);
        ADD_FAILURE() << "a second console served the same folder";
    } catch (const std::runtime_error& refused) {
        EXPECT_NE(std::string(refused.what()).find("already serves the data folder"), std::string::npos)
            << refused.what();
    }

    for (const char* name :
         {"store.db", "store.db-wal", "store.db-shm", "debug.log", "access.log", "access.log.1", "debug.log.1"}) {
        const std::filesystem::path file = console.DataDir() / name;
        ASSERT_TRUE(std::filesystem::exists(file)) << name;
        EXPECT_EQ(std::filesystem::status(file).permissions() &
                      (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
                  std::filesystem::perms::none)
            << name;
        if (std::string(name).find(".log") != std::string::npos) {
            EXPECT_LT(std::filesystem::file_size(file), 64u * 1024) << name << ": logs rotate at their size";
        }
    }
    EXPECT_FALSE(std::filesystem::exists(console.DataDir() / "access.log.4")) << "three old logs are kept";
}

}  // namespace
}  // namespace tessera::test
