// The gaps of the HTTP library that the console closes itself, and its limits.
#include "web_fixture.h"

#include "test_paths.h"

#include <fstream>

namespace tessera::test {
namespace {

std::string FormPost(const ConsoleServer& console, const std::string& cookie, const std::string& path,
                     std::vector<std::string> headers, const std::string& body) {
    headers.push_back("Cookie: " + cookie);
    headers.push_back("Origin: " + console.Origin());
    return RawExchange(console.Port(), RawRequest(console.Port(), "POST " + path + " HTTP/1.1", headers, body),
                       "127.0.0.1", std::chrono::milliseconds(3000));
}

TEST(HttpGaps, BodiesTheLibraryCannotBoundAreRefusedBeforeTheyAreRead) {
    ConsoleServer console(WithFakePlugin({"--max-body", "64KiB", "--max-fields", "16"}));
    const std::string cookie = console.SignIn();
    const std::string form = "Content-Type: application/x-www-form-urlencoded";
    const struct {
        const char* what;
        std::vector<std::string> headers;
        std::string body;
        int status;
    } cases[] = {
        // The chunked bodies are not sent: a Content-Length beside them would be refused as a smuggling attempt.
        {"chunked", {form, "Transfer-Encoding: chunked"}, "", 411},
        {"other transfer coding", {form, "Transfer-Encoding: gzip, chunked"}, "", 411},
        {"chunked with a length", {form, "Transfer-Encoding: chunked"}, "5\r\na=b&c\r\n0\r\n\r\n", 400},
        {"brotli body", {form, "Content-Encoding: br", "Content-Length: 4"}, "abcd", 415},
        {"gzip and more", {form, "Content-Encoding: gzip, br", "Content-Length: 4"}, "abcd", 415},
        {"no length", {form}, "", 411},
        {"over the limit, body never sent", {form, "Content-Length: 65537"}, "", 413},
        {"far over the limit", {form, "Content-Length: 99999999999999"}, "", 413},
        {"expecting to continue", {form, "Content-Length: 16777216", "Expect: 100-continue"}, "", 413},
        {"malformed length", {form, "Content-Length: 12abc"}, "", 400},
    };
    for (const auto& each : cases) {
        const auto start = std::chrono::steady_clock::now();
        const std::string response = FormPost(console, cookie, "/echo.htm", each.headers, each.body);
        EXPECT_EQ(RawStatus(response), each.status) << each.what << "\n" << response.substr(0, 200);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
            << each.what << ": waited for a body";
        EXPECT_EQ(response.find("HTTP/1.1 100"), std::string::npos) << each.what;
        EXPECT_EQ(RawHeader(response, "Connection"), "close") << each.what;
    }
    std::string many_fields;
    for (int index = 0; index < 20; ++index) many_fields += "f" + std::to_string(index) + "=x&";
    const std::string refused = FormPost(console, cookie, "/echo.htm", {form}, many_fields);
    EXPECT_EQ(RawStatus(refused), 413);
    EXPECT_NE(refused.find("more than 16 fields, the most this console takes (serve --max-fields)"), std::string::npos)
        << "a refusal names its real cause";
    // Up to the limit the body goes through, far beyond the library's built-in 8 192 bytes.
    const std::string value(65536 - 2, 'v');
    const std::string at_limit = FormPost(console, cookie, "/echo.htm", {form}, "a=" + value);
    EXPECT_EQ(RawStatus(at_limit), 200);
    EXPECT_NE(RawBody(at_limit).find("field a=" + value + "\n"), std::string::npos);

    // Compressed, the same bodies count as decoded: a few hundred bytes that
    // expand past the limit are refused like the body they expand to.
    const std::vector<std::string> gzip = {form, "Content-Encoding: gzip"};
    const std::string compressed_at_limit = FormPost(console, cookie, "/echo.htm", gzip, Gzipped("a=" + value));
    EXPECT_EQ(RawStatus(compressed_at_limit), 200);
    EXPECT_NE(RawBody(compressed_at_limit).find("field a=" + value + "\n"), std::string::npos);
    const std::string expanding = FormPost(console, cookie, "/echo.htm", gzip, Gzipped("a=" + value + "vv"));
    EXPECT_EQ(RawStatus(expanding), 413);
    EXPECT_EQ(RawStatus(FormPost(console, cookie, "/echo.htm", gzip, Gzipped(many_fields))), 413);
    EXPECT_EQ(RawStatus(FormPost(console, cookie, "/echo.htm", gzip, std::string(20, '\x1f'))), 400)
        << "a body that is not gzip";
}

TEST(HttpGaps, AnExceptionFromThePlugInGivesAPlain500AndTheConsoleGoesOn) {
    ConsoleServer console(WithFakePlugin());
    const std::string cookie = console.SignIn();
    for (int repeat = 0; repeat < 3; ++repeat) {
        const std::string response = console.Exchange("GET /throws.htm HTTP/1.1", {"Cookie: " + cookie});
        EXPECT_EQ(RawStatus(response), 500);
        EXPECT_EQ(response.find("secret"), std::string::npos) << response;
        EXPECT_EQ(response.find("locked"), std::string::npos) << response;
        EXPECT_EQ(RawHeader(response, "EXCEPTION_WHAT"), "");
    }
    const std::string after = console.Exchange("GET /echo.htm HTTP/1.1", {"Cookie: " + cookie});
    EXPECT_EQ(RawStatus(after), 200) << "the console still serves";
    EXPECT_NE(console.DataFile("debug.log").find("/srv/secret/store.db is locked"), std::string::npos)
        << "the detail goes to the debug log";
}

TEST(HttpGaps, APlugInThatCrashesLeavesThePagesDebugLinesInTheLog) {
    ConsoleServer console(WithFakePlugin());
    const std::string cookie = console.SignIn();
    EXPECT_EQ(RawStatus(console.Exchange("GET /crash.htm HTTP/1.1", {"Cookie: " + cookie})), 0);
    EXPECT_EQ(console.Stop(), -1) << "the abort ended the console";
    EXPECT_NE(console.DataFile("debug.log").find("the page is about to crash"), std::string::npos)
        << "a page's lines are written together at its end, or at a crash before it";
}

TEST(HttpGaps, TheClientAddressComesFromTheSocketOrFromATrustedProxysLastForwardedAddress) {
    ConsoleServer console(WithFakePlugin({"--trusted-proxy", "127.0.0.7"}));
    const std::string cookie = console.SignIn();
    const std::string planted = "REMOTE_ADDR: 192.0.2.66";
    struct Case {
        const char* local;
        std::vector<std::string> headers;
        const char* address;  // null: refused
    };
    const Case cases[] = {
        {"127.0.0.1", {"X-Forwarded-For: 203.0.113.9", planted}, "127.0.0.1"},  // not a proxy: the header is ignored
        {"127.0.0.7", {"X-Forwarded-For: 198.51.100.1, 203.0.113.9", planted}, "203.0.113.9"},
        {"127.0.0.7", {"X-Forwarded-For: 198.51.100.1", "X-Forwarded-For: 2001:DB8::0:1"}, "2001:db8::1"},
        {"127.0.0.7", {planted}, "127.0.0.7"},
        {"127.0.0.7", {"X-Forwarded-For: 203.0.113.9, unknown"}, nullptr},
        {"127.0.0.7", {"X-Forwarded-For: 203.0.113.9:4711"}, nullptr},
    };
    for (const Case& sent : cases) {
        std::vector<std::string> headers = sent.headers;
        headers.push_back("Cookie: " + cookie);
        const std::string response = console.Exchange("GET /echo.htm HTTP/1.1", headers, {}, sent.local);
        if (sent.address == nullptr) {
            EXPECT_EQ(RawStatus(response), 400) << headers.front();
            continue;
        }
        EXPECT_NE(RawBody(response).find("address=" + std::string(sent.address) + "\n"), std::string::npos)
            << headers.front() << "\n"
            << response;
        EXPECT_NE(RawBody(response).find("user=admin\n"), std::string::npos);
    }
    ASSERT_EQ(console.Stop(), 0);  // the access log is written whole by then
    const std::string log = console.DataFile("access.log");
    EXPECT_EQ(log.find("192.0.2.66"), std::string::npos);
    EXPECT_NE(log.find(" 203.0.113.9 admin GET /echo.htm 200 "), std::string::npos) << log;
}

TEST(HttpGaps, AResponseHeaderBlockThatCannotBeTrustedGivesA500) {
    ConsoleServer console(WithFakePlugin());
    const std::string cookie = console.SignIn();
    for (const char* page : {"/unframed.htm", "/split-header.htm"}) {
        const std::string response = console.Exchange(std::string("GET ") + page + " HTTP/1.1", {"Cookie: " + cookie});
        EXPECT_EQ(RawStatus(response), 500) << page;
        EXPECT_EQ(response.find("planted"), std::string::npos) << page;
        EXPECT_EQ(response.find("no header block"), std::string::npos) << page;
        EXPECT_NE(console.DataFile("debug.log").find(std::string(page + 1) + ": the plug-in's response header block"),
                  std::string::npos)
            << page;
    }
    const std::string download = console.Exchange("GET /download.htm HTTP/1.1", {"Cookie: " + cookie});
    EXPECT_EQ(RawHeader(download, "Content-Disposition"), "attachment; filename=ApprovedURLList.txt");
    EXPECT_EQ(RawHeader(download, "Content-Type"), "application/octet-stream");
    EXPECT_EQ(RawBody(download), "*.a.com\n");
}

TEST(HttpGaps, PagesAndFilesGoOutGzippedWhenTheBrowserOffersGzipAndPlainOtherwise) {
    ConsoleServer console(WithFakePlugin());
    const std::string cookie = console.SignIn();
    const struct {
        const char* offer;
        const char* coding;
    } cases[] = {
        {"br, gzip, deflate, zstd", "gzip"},  // brotli would cost seconds on a large page
        {"GZIP;q=0.5", "gzip"},
        {"br", ""},
        {"gzip;q=0, br", ""},
        {"", ""},
    };
    for (const auto& each : cases) {
        std::vector<std::string> headers = {"Cookie: " + cookie};
        if (*each.offer != '\0') headers.push_back(std::string("Accept-Encoding: ") + each.offer);
        const std::string page = console.Exchange("GET /big.htm HTTP/1.1", headers);
        EXPECT_EQ(RawStatus(page), 200) << each.offer;
        EXPECT_EQ(RawHeader(page, "Content-Encoding"), each.coding) << each.offer;
        EXPECT_EQ(RawHeader(page, "Vary"), "Accept-Encoding") << each.offer;
        const std::string body = *each.coding != '\0' ? Gunzipped(RawBody(page)) : RawBody(page);
        EXPECT_EQ(body, std::string(200000, 'a')) << each.offer;
        EXPECT_EQ(RawHeader(page, "Accept-Ranges"), "") << "ranges are not served";
    }

    const std::string style = console.Exchange("GET /static/css/tessera.css HTTP/1.1", {"Accept-Encoding: gzip"});
    EXPECT_EQ(RawHeader(style, "Content-Encoding"), "gzip");
    std::ifstream file(SourceDir() / "web/static/css/tessera.css", std::ios::binary);
    EXPECT_EQ(Gunzipped(RawBody(style)), std::string(std::istreambuf_iterator<char>(file), {}));
}

TEST(HttpGaps, RequestsBeyondTheOtherLimitsGetAClear4xx) {
    ConsoleServer console(WithFakePlugin());
    const std::string cookie = console.SignIn();
    std::vector<std::string> many_headers = {"Cookie: " + cookie};
    for (int i = 0; i < 120; ++i) many_headers.push_back("X-Filler-" + std::to_string(i) + ": x");
    const struct {
        const char* what;
        std::string request;
        int status;
    } cases[] = {
        {"too many headers", RawRequest(console.Port(), "GET /echo.htm HTTP/1.1", many_headers), 431},
        {"long URI", RawRequest(console.Port(), "GET /" + std::string(9000, 'u') + " HTTP/1.1", {}), 414},
        {"long path within the URI limit",
         RawRequest(console.Port(), "GET /" + std::string(8000, 'p') + " HTTP/1.1", {"Cookie: " + cookie}), 404},
        {"PUT", RawRequest(console.Port(), "PUT /echo.htm HTTP/1.1", {"Cookie: " + cookie}, "x"), 405},
        {"GET with a body", RawRequest(console.Port(), "GET /echo.htm HTTP/1.1", {"Cookie: " + cookie}, "hello"), 400},
        {"a form to a page that is only read",
         RawRequest(console.Port(), "POST /history HTTP/1.1",
                    {"Cookie: " + cookie, "Origin: " + console.Origin(), "Content-Type: application/json"}, "{}"),
         405},
        {"other form type",
         RawRequest(console.Port(), "POST /echo.htm HTTP/1.1",
                    {"Cookie: " + cookie, "Origin: " + console.Origin(), "Content-Type: application/json"}, "{}"),
         415},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(RawStatus(RawExchange(console.Port(), each.request)), each.status) << each.what;
    }
    EXPECT_EQ(RawStatus(console.Exchange("GET /echo.htm HTTP/1.1", {"Cookie: " + cookie})), 200)
        << "the console keeps serving";
}

}  // namespace
}  // namespace tessera::test
