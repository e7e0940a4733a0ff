// The web console on a PostgreSQL store: its server going away and coming
// back, a standby promoted, and several consoles on one store, directly and
// behind a load balancer.
#include "web_fixture.h"

#include "load_balancer.h"
#include "postgres_server.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

namespace tessera::test {
namespace {

void ExpectWholeChain(const std::string& store) {
    const std::string verified = RunConsole({"audit", "verify", "--store", store});
    EXPECT_EQ(verified.rfind("the audit chain is whole: ", 0), 0u) << verified;
}

// A save of the settings form that sets the message's replacement text to `text`.
httplib::Result SaveText(const ConsoleServer& console, httplib::Client& client, const std::string& cookie,
                         const std::string& text) {
    return client.Post(kSettingsPath, console.FormHeaders(cookie),
                       "FormAction=save&txtPolicyInstanceId=URL_FILTER&txtDeliverAct_Replace=" + text,
                       "application/x-www-form-urlencoded");
}

// The requests while the server is down are 503 with the reason, stop before
// the plug-in (the session cannot be checked), and leave nothing stored.
TEST(PostgresStore, ASaveWhileTheServerIsDownIs503AndTheConsoleCarriesOnOnceItIsBack) {
    PostgresServer server;
    const std::string store = server.CreateDatabase();
    ServeOptions options;
    options.extra_arguments = {"--store", store, "--threads", "2"};
    ConsoleServer console(options);
    const std::string cookie = console.SignIn();
    httplib::Client client = console.Client();
    const auto save = [&](const std::string& text) {
        const httplib::Result result = SaveText(console, client, cookie, text);
        return result ? result->status : -1;
    };
    ASSERT_EQ(save("before"), 200);

    server.Stop("immediate");
    const httplib::Result refused = SaveText(console, client, cookie, "refused");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_NE(refused->body.find("The store cannot be used now: the store&#39;s database server cannot be reached"),
              std::string::npos)
        << refused->body.substr(0, 2000);
    EXPECT_EQ(refused->get_header_value("Retry-After"), "5");
    const httplib::Result page = client.Get(kSettingsPath, console.FormHeaders(cookie));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 503);

    server.Start();
    // Every worker's connection was dropped; none of them fails a request for it.
    for (const char* text : {"after1", "after2", "after3", "after4"}) EXPECT_EQ(save(text), 200) << text;
    EXPECT_EQ(StoredPolicyTextAt(store, "URL_FILTER", "ActionReplaceAll"), "after4");
    const std::string audit = RunConsole({"audit", "--json", "--action", "save", "--store", store});
    EXPECT_EQ(std::count(audit.begin(), audit.end(), '\n'), 5) << "the save before and the four after, only: " << audit;
    ExpectWholeChain(store);
}

// The console on a primary with a synchronous hot standby, both named in its
// URL: the primary stops at once and the standby is promoted while one
// browser saves, over and over. Each save the console acknowledged is in the
// promoted store, none it refused is, and it serves again within seconds.
TEST(PostgresStore, APromotedStandbyCarriesOnWithEveryAcknowledgedSaveAndNoRefusedOne) {
    PostgresServer primary;
    const std::string on_primary = primary.CreateDatabase();
    const std::string database = on_primary.substr(on_primary.rfind('/') + 1);
    PostgresServer standby(&primary);
    // A commit returns once the standby has it too: none is lost when the primary goes.
    PostgresServer::Execute(primary.Url("postgres"), "ALTER SYSTEM SET synchronous_standby_names = '*'");
    PostgresServer::Execute(primary.Url("postgres"), "SELECT pg_reload_conf()");
    const std::string store = "postgresql://tessera@127.0.0.1:" + std::to_string(primary.Port()) +
                              ",127.0.0.1:" + std::to_string(standby.Port()) + "/" + database +
                              "?target_session_attrs=read-write";
    ServeOptions options;
    options.extra_arguments = {"--store", store, "--threads", "2"};
    options.environment = {{"TESSERA_STORE_BUSY_MS", "1000"}};
    ConsoleServer console(options);
    const std::string cookie = console.SignIn();
    httplib::Client client = console.Client();
    std::vector<std::string> acknowledged;
    std::vector<std::string> refused;
    int next = 0;
    const auto save = [&] {
        const std::string text = "save" + std::to_string(++next);
        const httplib::Result result = SaveText(console, client, cookie, text);
        (result && result->status == 200 ? acknowledged : refused).push_back(text);
        return result && result->status == 200;
    };
    for (int index = 0; index < 5; ++index) ASSERT_TRUE(save());

    primary.Stop("immediate");
    EXPECT_FALSE(save()) << "while only a standby runs, no server takes writes";
    standby.Promote();
    const auto promoted = std::chrono::steady_clock::now();
    while (!save()) {
        ASSERT_LT(std::chrono::steady_clock::now() - promoted, std::chrono::seconds(10)) << "no save after 10 s";
    }
    for (int index = 0; index < 5; ++index) EXPECT_TRUE(save());

    EXPECT_EQ(StoredPolicyTextAt(store, "URL_FILTER", "ActionReplaceAll"), acknowledged.back());
    // One record of each acknowledged save, none of a refused save but marked as rolled back.
    const std::string audit = RunConsole({"audit", "--json", "--action", "save", "--store", store});
    std::size_t stored_records = 0;
    for (std::size_t start = 0; start < audit.size();) {
        const std::size_t end = audit.find('\n', start);
        const nlohmann::json record = nlohmann::json::parse(audit.substr(start, end - start));
        stored_records += record.contains("rolled_back") ? 0 : 1;
        start = end == std::string::npos ? audit.size() : end + 1;
    }
    EXPECT_EQ(stored_records, acknowledged.size()) << audit;
    ExpectWholeChain(store);
}

// Two consoles, each with a data folder of its own, on one PostgreSQL store:
// a token made once opens both, what one saves the other shows at once, and
// clients adding entries through both at the same time lose none of them.
TEST(PostgresStore, TwoConsolesOnOneStoreServeOneConfigurationAndLoseNoConcurrentChange) {
    const std::string store = PostgresServer::Shared().CreateDatabase();
    ServeOptions options;
    options.extra_arguments = {"--store", store, "--api-rate-limit", "1000000"};
    ConsoleServer first(options);
    ConsoleServer second(options);
    const std::string made = RunConsole({"token", "create", "--name", "load", "--scope", "write", "--store", store,
                                         "--data", first.DataDir().string()});
    const std::size_t at = made.rfind("tsr_");
    ASSERT_NE(at, std::string::npos) << made;
    const httplib::Headers headers = {{"Authorization", "Bearer " + made.substr(at, made.find('\n', at) - at)},
                                      {"If-Match", "*"}};
    const auto add = [&](const ConsoleServer& console, const std::string& entry) {
        const httplib::Result added = console.Client().Patch("/api/v1/approved-list", headers,
                                                             R"({"add": [")" + entry + R"("]})", "application/json");
        return added && added->status == 200;
    };
    ASSERT_TRUE(add(second, "www.second.example"));
    const httplib::Result shown = first.Client().Get("/api/v1/approved-list?contains=second.example", headers);
    ASSERT_TRUE(shown);
    EXPECT_NE(shown->body.find("www.second.example"), std::string::npos) << shown->body;

    constexpr int kClients = 16;
    std::vector<std::vector<std::string>> acknowledged(kClients);
    std::vector<std::thread> clients;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&, client] {
            const ConsoleServer& console = client % 2 == 0 ? first : second;
            for (int index = 0; std::chrono::steady_clock::now() < until; ++index) {
                const std::string entry = "c" + std::to_string(client) + "-" + std::to_string(index) + ".example.com";
                if (add(console, entry)) acknowledged[client].push_back(entry);
            }
        });
    }
    for (std::thread& client : clients) client.join();

    const std::string exported =
        RunConsole({"list", "export", "-", "--store", store, "--data", first.DataDir().string()});
    std::size_t total = 0;
    for (const std::vector<std::string>& entries : acknowledged) {
        EXPECT_FALSE(entries.empty()) << "every client got changes through";
        for (const std::string& entry : entries) {
            EXPECT_NE(exported.find(entry + "\n"), std::string::npos) << entry << " was acknowledged, then lost";
        }
        total += entries.size();
    }
    EXPECT_GT(total, static_cast<std::size_t>(kClients));
    ExpectWholeChain(store);
}

// The form fields a client saves, one each, in either policy instance.
constexpr std::pair<const char*, const char*> kTextFields[] = {
    {"txtDeliverAct_Replace", "ActionReplaceAll"}, {"txtDeliverAct_AddNote", "ActionTagFrontNote"},
    {"txtAdminInstant", "AdminSIPAddress"},        {"txtAdminEmail", "AdminEmailAddress"},
    {"txtNotifyAdminSubject", "AdminSubject"},     {"txtAdminMessage", "AdminMessage"},
    {"txtSenderSubject", "SenderSubject"},         {"txtSenderMessage", "SenderMessage"},
    {"txtRecieverSubject", "RecipientSubject"},    {"txtRecieverMessage", "RecipientMessage"},
};
constexpr const char* kInstances[] = {"URL_FILTER", "URL_FILTER_FILE"};
constexpr std::size_t kSlots = std::size(kTextFields) * std::size(kInstances);

// Two consoles on one PostgreSQL store behind haproxy, which sends each
// request to the next console in turn: a session made on either is good on
// both, and browsers saving through the balancer lose no write.
TEST(PostgresStore, BehindARoundRobinBalancerEitherConsoleAnswersEverySessionAndNoSaveIsLost) {
    const std::string store = PostgresServer::Shared().CreateDatabase();
    ServeOptions options;
    options.extra_arguments = {"--store", store, "--trusted-proxy", "127.0.0.1"};
    ConsoleServer first(options);
    ConsoleServer second(options);

    // Signed in on the first, saved through the second, shown by the first.
    const std::string cookie = first.SignIn();
    httplib::Client to_second = second.Client();
    const httplib::Result saved = SaveText(second, to_second, cookie, "saved-through-the-second");
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->status, 200);
    const httplib::Result shown = first.Client().Get(kSettingsPath, first.FormHeaders(cookie));
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->status, 200);
    EXPECT_NE(shown->body.find("saved-through-the-second"), std::string::npos);
    // The list of a page of the first, which the first keeps apart for the
    // page's script, comes the same from the second, which makes it again.
    const httplib::Headers apart = {{"Cookie", cookie + "; tessera_list=apart"}};
    const httplib::Result page = first.Client().Get(kSettingsPath, apart);
    ASSERT_TRUE(page);
    const std::size_t at = page->body.find("data-list=\"");
    ASSERT_NE(at, std::string::npos) << page->body.substr(0, 2000);
    const std::string list_path = page->body.substr(at + 11, page->body.find('"', at + 11) - at - 11);
    const httplib::Result remade = to_second.Get(list_path, apart);
    const httplib::Result kept = first.Client().Get(list_path, apart);
    ASSERT_TRUE(remade && kept);
    EXPECT_EQ(remade->status, 200);
    EXPECT_EQ(remade->body, kept->body);
    // And signed out on the second, gone from the first.
    ASSERT_TRUE(to_second.Post("/logout", second.FormHeaders(cookie), "", "application/x-www-form-urlencoded"));
    const httplib::Result signed_out = first.Client().Get(kSettingsPath, first.FormHeaders(cookie));
    ASSERT_TRUE(signed_out);
    EXPECT_EQ(signed_out->status, 303);

    // 32 browsers, each signed in through the balancer and saving one field
    // of its own (a field is shared by two browsers at most), for 30 s. The
    // audit record of each acknowledged save tells which was stored last.
    LoadBalancer balancer({first.Port(), second.Port()});
    const std::string origin = "http://127.0.0.1:" + std::to_string(balancer.Port());
    constexpr int kClients = 32;
    struct Acknowledged {
        std::int64_t record = 0;
        std::string value;
    };
    std::vector<std::vector<Acknowledged>> acknowledged(kClients);
    std::vector<std::string> failures(kClients);
    std::vector<std::thread> clients;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&, client] {
            httplib::Client http("127.0.0.1", balancer.Port());
            http.set_connection_timeout(std::chrono::seconds(10));
            http.set_read_timeout(std::chrono::seconds(30));
            const httplib::Result signed_in =
                http.Post("/login", httplib::Headers{{"Origin", origin}},
                          "username=admin&password=" + httplib::detail::encode_query_param(kAdminPassword),
                          "application/x-www-form-urlencoded");
            if (!signed_in || signed_in->status != 303) {
                failures[client] = "sign-in: " + std::to_string(signed_in ? signed_in->status : -1);
                return;
            }
            const std::string set_cookie = signed_in->get_header_value("Set-Cookie");
            const httplib::Headers headers = {{"Cookie", set_cookie.substr(0, set_cookie.find(';'))},
                                              {"Origin", origin}};
            const std::size_t slot = client % kSlots;
            const std::string field = kTextFields[slot % std::size(kTextFields)].first;
            const std::string instance = kInstances[slot / std::size(kTextFields)];
            for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
                const std::string value = "c" + std::to_string(client) + "-" + std::to_string(round);
                const httplib::Result result =
                    http.Post(kSettingsPath, headers,
                              "FormAction=save&txtPolicyInstanceId=" + instance + "&" + field + "=" + value,
                              "application/x-www-form-urlencoded");
                if (!result || result->status != 200) {
                    failures[client] = "save: " + std::to_string(result ? result->status : -1);
                    return;
                }
                acknowledged[client].push_back({std::stoll(result->get_header_value("X-Tessera-Record")), value});
            }
        });
    }
    for (std::thread& client : clients) client.join();
    for (int client = 0; client < kClients; ++client) {
        EXPECT_EQ(failures[client], "") << "client " << client;
        EXPECT_FALSE(acknowledged[client].empty()) << "client " << client;
    }

    // Of the browsers of one field, the save with the latest record is stored.
    std::set<std::int64_t> records;
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        Acknowledged last;
        for (std::size_t client = slot; client < kClients; client += kSlots) {
            for (const Acknowledged& save : acknowledged[client]) {
                EXPECT_TRUE(records.insert(save.record).second) << "record " << save.record << " acknowledged twice";
                if (save.record > last.record) last = save;
            }
        }
        if (last.record == 0) continue;
        EXPECT_EQ(StoredPolicyTextAt(store, kInstances[slot / std::size(kTextFields)],
                                     kTextFields[slot % std::size(kTextFields)].second),
                  last.value);
    }
    // Each console took about half of them (its access log is whole once it stopped).
    const std::string balanced_save = " admin POST " + std::string(kSettingsPath) + " 200 ";
    for (ConsoleServer* console : {&first, &second}) {
        ASSERT_EQ(console->Stop(), 0);
        const std::string log = console->DataFile("access.log");
        std::size_t saves = 0;
        for (std::size_t found = log.find(balanced_save); found != std::string::npos;
             found = log.find(balanced_save, found + 1)) {
            ++saves;
        }
        EXPECT_GT(saves, records.size() / 4) << "of " << records.size();
    }
    ExpectWholeChain(store);
}

}  // namespace
}  // namespace tessera::test
