// Start, shut-down at SIGTERM, and the access log.
#include "web_fixture.h"

#include <algorithm>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

namespace tessera::test {
namespace {

TEST(Lifecycle, SigtermFinishesTheRequestInFlightThenDeinitializesAndExitsCleanly) {
    const TempFolder folder("tessera-events");
    const std::filesystem::path events = folder.path() / "events";
    ServeOptions options = WithFakePlugin();
    options.environment = {{"TESSERA_FAKE_PLUGIN_EVENTS", events.string()}};
    ConsoleServer console(options);
    const std::string cookie = console.SignIn();

    std::future<std::string> in_flight = std::async(
        std::launch::async, [&] { return console.Exchange("GET /slow.htm HTTP/1.1", {"Cookie: " + cookie}); });
    // The plug-in says when the request has begun; only then is it in flight.
    const auto recorded_events = [&] {
        std::ifstream in(events);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (recorded_events().find("slow request begins") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(console.Stop(), 0);
    const std::string response = in_flight.get();
    EXPECT_EQ(RawStatus(response), 200);
    EXPECT_EQ(RawBody(response), "<p>slow</p>");

    EXPECT_EQ(recorded_events(), "initialize\nslow request begins\nslow request ends\ndeinitialize\n");
    EXPECT_NE(console.StandardOutput().find("Stopping"), std::string::npos);
    EXPECT_NE(console.StandardOutput().find("Stopped."), std::string::npos);
    EXPECT_NE(console.DataFile("debug.log").find("shutting down"), std::string::npos);
}

TEST(Lifecycle, TheAccessLogHasOneLinePerRequestAndNoSecret) {
    ConsoleServer console(WithFakePlugin());
    const std::string cookie = console.SignIn();
    httplib::Client client = console.Client();
    ASSERT_TRUE(client.Get("/echo.htm?token=query-secret", console.FormHeaders(cookie)));
    ASSERT_TRUE(client.Post("/echo.htm", console.FormHeaders(cookie), "field=body-secret",
                            "application/x-www-form-urlencoded"));
    ASSERT_TRUE(client.Get("/missing%0Aforged.htm", console.FormHeaders(cookie)));
    ASSERT_TRUE(client.Get("/login"));
    console.Stop();

    const std::string log = console.DataFile("access.log");
    const std::regex line_shape(
        "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ 127\\.0\\.0\\.1 (admin|-) (GET|POST) \\S+ \\d{3} \\d+ \\d+");
    std::istringstream lines(log);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_match(line, line_shape)) << line;
        all.push_back(line);
    }
    // Each line is written once its response is sent, so lines of requests on
    // different connections may come in either order.
    EXPECT_EQ(all.size(), 5u) << log;
    for (const char* expected : {" admin POST /login 303 ", " admin GET /echo.htm 200 ", " admin POST /echo.htm 200 ",
                                 " admin GET /missing%0Aforged.htm 404 ", " - GET /login 200 "}) {
        EXPECT_EQ(std::count_if(all.begin(), all.end(),
                                [&](const std::string& line) { return line.find(expected) != std::string::npos; }),
                  1)
            << expected << "\n"
            << log;
    }

    const std::string session_id = cookie.substr(cookie.find('=') + 1);
    for (const std::string& file : {log, console.DataFile("debug.log")}) {
        for (const std::string& secret :
             {std::string(kAdminPassword), std::string("query-secret"), std::string("body-secret"), session_id}) {
            EXPECT_EQ(file.find(secret), std::string::npos) << secret;
        }
    }
}

}  // namespace
}  // namespace tessera::test
