// The plug-in's pages served over HTTP: requests built from the query and the
// body, the list served apart, static files.
#include "web_fixture.h"

#include "test_paths.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace tessera::test {
namespace {

TEST(Pages, StaticFilesComeWithTheirTypesAndNothingElseIsServedFromThere) {
    ConsoleServer console;
    httplib::Client client = console.Client();
    const struct {
        const char* path;
        int status;
        const char* content_type;
    } cases[] = {
        {"/static/css/tessera.css", 200, "text/css; charset=utf-8"},
        {"/static/js/page.js", 200, "text/javascript; charset=utf-8"},
        {"/static/js/page_names.js", 200, "text/javascript; charset=utf-8"},
        {"/static/img/tessera.svg", 200, "image/svg+xml"},
        {"/static/css/missing.css", 404, "text/html; charset=utf-8"},
        {"/static/css", 404, "text/html; charset=utf-8"},
        {"/static/", 404, "text/html; charset=utf-8"},
    };
    for (const auto& each : cases) {
        const httplib::Result result = client.Get(each.path);
        ASSERT_TRUE(result) << each.path;
        EXPECT_EQ(result->status, each.status) << each.path;
        EXPECT_EQ(result->get_header_value("Content-Type"), each.content_type) << each.path;
    }
    // A file of another type beside them is not served, even when it exists.
    const std::filesystem::path stray = SourceDir() / "web/static/css/stray-test-file.htm";
    std::ofstream(stray) << "<p>stray</p>";
    const httplib::Result stray_result = client.Get("/static/css/stray-test-file.htm");
    std::filesystem::remove(stray);
    ASSERT_TRUE(stray_result);
    EXPECT_EQ(stray_result->status, 404);
}

TEST(Pages, FieldsComeFromTheQueryFirstThenTheBodyDecodedAsTextOrFile) {
    ConsoleServer console(WithFakePlugin());
    const std::string cookie = console.SignIn();
    httplib::Client client = console.Client();

    const httplib::Result encoded =
        client.Post("/echo.htm?q=%C3%A9t%C3%A9&q=2", console.FormHeaders(cookie), "b=%E2%82%AC+sign&a=plain&bad=%FF",
                    "application/x-www-form-urlencoded");
    ASSERT_TRUE(encoded);
    EXPECT_EQ(encoded->body,
              "page=echo.htm\nuser=admin\naddress=127.0.0.1\nbase=/\n"
              "field q=\xC3\xA9t\xC3\xA9\nfield q=2\n"
              "field b=\xE2\x82\xAC sign\nfield a=plain\nfield bad=\xEF\xBF\xBD\n")
        << "in the order sent";

    const httplib::Result multipart =
        client.Post("/echo.htm", console.FormHeaders(cookie),
                    httplib::MultipartFormDataItems{
                        {"text", "\xC3\xA9", "", ""},
                        {"utf16be", std::string("\xfe\xff\x00\x41\x00\x42", 6), "list.txt", "text/plain"},
                        {"utf8bom", "\xEF\xBB\xBFok", "list.txt", "application/octet-stream"},
                    });
    ASSERT_TRUE(multipart);
    EXPECT_NE(multipart->body.find("field text=\xC3\xA9\nfield utf16be=AB\nfield utf8bom=ok\n"), std::string::npos)
        << multipart->body;

    const httplib::Result with_nul = client.Get("/echo%00.htm", console.FormHeaders(cookie));
    ASSERT_TRUE(with_nul);
    EXPECT_EQ(with_nul->status, 404);
}

// A browser that runs scripts asks for the list apart; its entries then come
// as JSON, once, to the session whose page named them.
TEST(Pages, TheListApartComesWhileItIsUnchangedAndAPageWithoutItCannotSave) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const std::string entries[] = {"www.a.example", "q\"<&>'.example", "line\nbreak.example"};
    std::string form = "FormAction=save&txtPolicyInstanceId=URL_FILTER";
    for (const std::string& entry : entries) form += "&stApprovedURL=" + httplib::detail::encode_query_param(entry);
    httplib::Client client = console.Client();
    ASSERT_TRUE(client.Post(kSettingsPath, console.FormHeaders(cookie), form, "application/x-www-form-urlencoded"));

    const httplib::Headers apart = {{"Cookie", cookie + "; tessera_list=apart"}};
    const httplib::Result page = client.Get(kSettingsPath, apart);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("<option"), std::string::npos);
    const std::size_t at = page->body.find("data-list=\"/approved-list/");
    ASSERT_NE(at, std::string::npos) << page->body;
    const std::string list_path = page->body.substr(at + 11, page->body.find('"', at + 11) - at - 11);
    const nlohmann::json stored = {"*.line\nbreak.example", "*.q\"<&>'.example", "www.a.example"};
    // Kept for the page's session, then made again from the store (as a
    // console that did not serve the page does) while the list is the same.
    for (const char* fetch : {"kept", "made again", "by another session"}) {
        const httplib::Result list = client.Get(
            list_path, std::string(fetch) == "by another session" ? console.FormHeaders(console.SignIn()) : apart);
        ASSERT_TRUE(list);
        EXPECT_EQ(list->status, 200) << fetch;
        EXPECT_EQ(list->get_header_value("Content-Type"), "application/json");
        EXPECT_EQ(nlohmann::json::parse(list->body), stored) << fetch;
    }
    for (const std::string& wrong : {list_path.substr(0, list_path.rfind('.')), list_path + "x", list_path + "0"}) {
        EXPECT_EQ(client.Get(wrong, apart)->status, 404) << wrong;
    }

    // Posted from that page by a browser without scripts, the form would hold no entry.
    const std::size_t audit_before = AuditRecordCount(console.DataDir());
    const httplib::Result refused =
        client.Post(kSettingsPath, console.FormHeaders(cookie), "FormAction=save&tesseraListApartFromThisPage=1",
                    "application/x-www-form-urlencoded");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 409);
    EXPECT_NE(refused->get_header_value("Set-Cookie").find("tessera_list=; "), std::string::npos);
    EXPECT_EQ(StoredApprovedList(console.DataDir()).size(), 3u);
    EXPECT_EQ(AuditRecordCount(console.DataDir()), audit_before);

    ASSERT_TRUE(client.Post(kSettingsPath, console.FormHeaders(cookie), form + "&stApprovedURL=www.d.example",
                            "application/x-www-form-urlencoded"));
    EXPECT_EQ(client.Get(list_path, apart)->status, 404) << "the list changed since its page was served";
}

TEST(Pages, APolicyTheConsoleDoesNotHostIs404BeforeThePlugInRunsAndNothingIsStored) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    httplib::Client client = console.Client();
    const std::string stored = StoredPolicyText(console.DataDir(), "URL_FILTER", "ActionReplaceAll");
    const std::size_t audit_before = AuditRecordCount(console.DataDir());
    for (const std::string policy : {"url_filter", "URL_FILTERS", "NO_SUCH_POLICY", "URL_FILTER_DEFAULT"}) {
        SCOPED_TRACE(policy);
        const std::string query = "?txtPolicyInstanceId=" + policy;
        const httplib::Result page = client.Get(kSettingsPath + query, console.FormHeaders(cookie));
        const httplib::Result save =
            client.Post(kSettingsPath + query, console.FormHeaders(cookie),
                        "FormAction=save&txtDeliverAct_Replace=dropped", "application/x-www-form-urlencoded");
        for (const httplib::Result* result : {&page, &save}) {
            ASSERT_TRUE(*result);
            EXPECT_EQ((*result)->status, 404);
            EXPECT_NE((*result)->body.find("There is no policy &quot;" + policy +
                                           "&quot; here; nothing was stored. The policies are: URL_FILTER, "
                                           "URL_FILTER_FILE."),
                      std::string::npos)
                << (*result)->body;
            EXPECT_EQ((*result)->body.find("$$"), std::string::npos);
            EXPECT_FALSE((*result)->has_header("X-Tessera-Outcome"));
        }
    }
    EXPECT_EQ(StoredPolicyText(console.DataDir(), "URL_FILTER", "ActionReplaceAll"), stored);
    EXPECT_EQ(AuditRecordCount(console.DataDir()), audit_before);
    EXPECT_EQ(console.DataFile("debug.log").find("Failed to get CMgmtObject"), std::string::npos)
        << "the plug-in never ran";
}

TEST(Pages, APageWhoseTemplateIsMissingIs500AndTheDebugLogNamesIt) {
    const TempFolder web_root("tessera-web-root");
    std::filesystem::copy(SourceDir() / "web", web_root.path() / "web", std::filesystem::copy_options::recursive);
    std::filesystem::remove(web_root.path() / "web/html/scan/WebThreat_Protection.htm");
    ServeOptions options;
    options.extra_arguments = {"--web-root", web_root.path().string()};
    ConsoleServer console(options);
    const std::string cookie = console.SignIn();
    const httplib::Result page = console.Client().Get(kSettingsPath, console.FormHeaders(cookie));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 500);
    EXPECT_NE(page->body.find("its template is missing or unreadable"), std::string::npos) << page->body;
    EXPECT_NE(console.DataFile("debug.log").find("its template web/html/scan/WebThreat_Protection.htm is missing"),
              std::string::npos)
        << console.DataFile("debug.log");
    const httplib::Result unknown = console.Client().Get("/scan/NoSuchPage.htm", console.FormHeaders(cookie));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404) << "a page the plug-in does not make is no missing template";
}

}  // namespace
}  // namespace tessera::test
