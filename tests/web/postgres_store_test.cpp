// The web console on a PostgreSQL store whose server goes away and comes back:
// the requests in between are 503 with the reason, stop before the plug-in
// (the session cannot be checked), and leave nothing stored; the console
// carries on once the server is back.
#include "web_fixture.h"

#include "postgres_server.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace tessera::test {
namespace {

std::string StoredReplaceText(const std::string& store) {
    const nlohmann::json dump =
        nlohmann::json::parse(RunConsole({"store", "dump", "QZ_UrlFilter", "URL_FILTER", "--store", store}));
    return dump["QZ_UrlFilter"]["URL_FILTER"]["ActionReplaceAll"]["value"];
}

TEST(PostgresStore, ASaveWhileTheServerIsDownIs503AndTheConsoleCarriesOnOnceItIsBack) {
    PostgresServer server;
    const std::string store = server.CreateDatabase();
    ServeOptions options;
    options.extra_arguments = {"--store", store, "--threads", "2"};
    ConsoleServer console(options);
    const std::string cookie = console.SignIn();
    httplib::Client client = console.Client();
    const auto save = [&](const std::string& text) {
        const httplib::Result result =
            client.Post(kSettingsPath, console.FormHeaders(cookie),
                        "FormAction=save&txtPolicyInstanceId=URL_FILTER&txtDeliverAct_Replace=" + text,
                        "application/x-www-form-urlencoded");
        return result ? result->status : -1;
    };
    ASSERT_EQ(save("before"), 200);

    server.Stop("immediate");
    const httplib::Result refused =
        client.Post(kSettingsPath, console.FormHeaders(cookie),
                    "FormAction=save&txtPolicyInstanceId=URL_FILTER&txtDeliverAct_Replace=refused",
                    "application/x-www-form-urlencoded");
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
    EXPECT_EQ(StoredReplaceText(store), "after4");
    const std::string audit = RunConsole({"audit", "--json", "--action", "save", "--store", store});
    EXPECT_EQ(std::count(audit.begin(), audit.end(), '\n'), 5) << "the save before and the four after, only: " << audit;
    const std::string verified = RunConsole({"audit", "verify", "--store", store});
    EXPECT_EQ(verified.rfind("the audit chain is whole: ", 0), 0u) << verified;
}

}  // namespace
}  // namespace tessera::test
