// The web console run as a process on a free loopback port with a fresh data
// folder, and the ways the tests talk to it: httplib's client for ordinary
// requests, a raw socket for requests that client would not send.
#pragma once

#include <httplib.h>
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <sys/types.h>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessera::test {

inline constexpr char kAdminPassword[] = "correct horse battery staple";
inline constexpr char kSettingsPath[] = "/scan/WebThreat_Protection.htm";

struct ServeOptions {
    std::string listen = "127.0.0.1:0";
    std::filesystem::path data_dir;            // empty: a fresh folder of the test's own
    std::vector<std::string> extra_arguments;  // after serve --listen --data
    // TESSERA_ADMIN_PASSWORD; nullopt leaves it empty, which the console takes as unset.
    std::optional<std::string> admin_password = std::string(kAdminPassword);
    std::vector<std::pair<std::string, std::string>> environment;
    // Run as root runs it, the console would write through any permission bits.
    bool honours_permission_bits = false;
};

// Serve options with the tests' own plug-in, whose pages misbehave on purpose,
// and `more` arguments.
ServeOptions WithFakePlugin(std::vector<std::string> more = {});

// `tessera-console serve --listen 127.0.0.1:0 --data <fresh folder>`, running
// in the background until Stop or the end of the test.
class ConsoleServer {
public:
    explicit ConsoleServer(const ServeOptions& options = {});
    ~ConsoleServer();
    ConsoleServer(const ConsoleServer&) = delete;
    ConsoleServer& operator=(const ConsoleServer&) = delete;

    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    const std::filesystem::path& DataDir() const { return data_dir_; }
    // The scheme and port of the URL the console printed, on 127.0.0.1.
    std::string Origin() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }
    std::string StandardOutput() const;
    std::string DataFile(const std::string& name) const;  // its whole text, empty when missing

    // SIGTERM, then the exit status (-1 when a signal or the timeout ended it).
    int Stop(std::chrono::seconds timeout = std::chrono::seconds(20));

    // RawRequest(request_line, header_lines, body) sent from `local_address`,
    // and the whole response (see RawExchange).
    std::string Exchange(const std::string& request_line, const std::vector<std::string>& header_lines = {},
                         const std::string& body = {}, const std::string& local_address = "127.0.0.1") const;
    // A client with short timeouts; no redirects followed, nothing decompressed.
    httplib::Client Client() const;
    // Signs in (as the first administrator unless told) and returns the
    // Cookie header value, or fails the test.
    std::string SignIn(const std::string& user_name = "admin", const std::string& password = kAdminPassword) const;
    // Headers of a same-origin form post with that session.
    httplib::Headers FormHeaders(const std::string& cookie) const;

private:
    TempFolder temp_{"tessera-web"};
    std::filesystem::path root_ = temp_.path();
    std::filesystem::path data_dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string scheme_;
};

// A TCP connection from `local_address` (any 127.x.y.z) to the console on
// 127.0.0.1:`port`; throws std::runtime_error when it cannot connect.
int ConnectFrom(const std::string& local_address, int port);

// Sends `request` as it is over a fresh connection from `local_address` and
// returns everything the console sends back until it closes the connection or
// `timeout` passes.
std::string RawExchange(int port, const std::string& request, const std::string& local_address = "127.0.0.1",
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// "<request line>\r\nHost: 127.0.0.1:<port>\r\nConnection: close\r\n", the
// header lines, a Content-Length of `body` unless a line gives one, then `body`.
std::string RawRequest(int port, const std::string& request_line, const std::vector<std::string>& header_lines,
                       const std::string& body = {});

// The status code of a raw response, or 0.
int RawStatus(const std::string& response);

// The value of header `name` in a raw response (first match, case as given), or empty.
std::string RawHeader(const std::string& response, const std::string& name);
std::string RawBody(const std::string& response);
// gzip's member format, as browsers send and take it.
std::string Gzipped(const std::string& text);
std::string Gunzipped(const std::string& compressed);

// Runs tessera-console with `arguments` to completion and returns its standard
// output (the test fails on another exit status than 0).
std::string RunConsole(const std::vector<std::string>& arguments, const std::string& standard_input = {},
                       const std::vector<std::pair<std::string, std::string>>& environment = {});

// The approved list entries of the store in `data_dir`, its audit records (of
// one action when given), and one stored property of a policy instance.
std::vector<std::string> StoredApprovedList(const std::filesystem::path& data_dir);
std::size_t AuditRecordCount(const std::filesystem::path& data_dir, const std::string& action = {});
std::string StoredPolicyText(const std::filesystem::path& data_dir, const std::string& instance,
                             const std::string& property);
// The same of the store at `store_url` (as --store names it).
std::string StoredPolicyTextAt(const std::string& store_url, const std::string& instance, const std::string& property);
// The password column of an account, read from the store file.
std::string StoredPasswordHash(const std::filesystem::path& data_dir, const std::string& account);

}  // namespace tessera::test
