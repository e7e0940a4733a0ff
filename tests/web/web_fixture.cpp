// The web console as a background process, and raw HTTP exchanges with it.
#include "web_fixture.h"

#include "process_runner.h"
#include "test_paths.h"

#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace tessera::test {
namespace {

// True once the headers and as many body bytes as Content-Length names are in.
bool IsComplete(const std::string& response) {
    const std::size_t head_end = response.find("\r\n\r\n");
    if (head_end == std::string::npos) return false;
    const std::string head = response.substr(0, head_end);
    if (head.rfind("HTTP/1.1 100 ", 0) == 0) return false;
    const std::size_t length_at = head.find("\r\nContent-Length: ");
    if (length_at == std::string::npos) return false;
    const std::size_t length = std::strtoul(head.c_str() + length_at + 18, nullptr, 10);
    return response.size() >= head_end + 4 + length;
}

}  // namespace

ServeOptions WithFakePlugin(std::vector<std::string> more) {
    ServeOptions options;
    options.extra_arguments = {"--plugin", TESSERA_TEST_FAKE_PLUGIN_PATH};
    options.extra_arguments.insert(options.extra_arguments.end(), more.begin(), more.end());
    return options;
}

ConsoleServer::ConsoleServer(const ServeOptions& options)
    : data_dir_(options.data_dir.empty() ? root_ / "var" : options.data_dir) {
    std::vector<std::string> arguments = {"serve", "--listen", options.listen, "--data", data_dir_.string()};
    arguments.insert(arguments.end(), options.extra_arguments.begin(), options.extra_arguments.end());
    ProcessOptions process;
    process.environment = options.environment;
    process.environment.emplace_back("TESSERA_ADMIN_PASSWORD", options.admin_password.value_or(""));
    const std::filesystem::path stderr_file = root_ / "stderr.txt";
    std::filesystem::path program = ConsolePath();
    if (options.honours_permission_bits && ::geteuid() == 0) {
        arguments.insert(arguments.begin(), {"--bounding-set", "-dac_override,-dac_read_search", "--", program});
        program = "/usr/bin/setpriv";
    }
    pid_ = StartProcess(program, arguments, process, {root_ / "stdout.txt", stderr_file});
    // The console prints its URL once it listens: "open http://127.0.0.1:PORT/ in a browser."
    const std::string marker = "console: open ";
    for (int attempt = 0; attempt < 600 && port_ == 0; ++attempt) {
        const std::string printed = StandardOutput();
        const std::size_t at = printed.find(marker);
        const std::size_t end = at == std::string::npos ? at : printed.find("/ in a browser", at);
        if (end != std::string::npos) {
            const std::string url = printed.substr(at + marker.size(), end - at - marker.size());
            scheme_ = url.substr(0, url.find("://"));
            port_ = std::atoi(url.c_str() + url.rfind(':') + 1);
            break;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the console ended at start: " + ReadWholeFile(stderr_file));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (port_ == 0) throw std::runtime_error("the console printed no URL: " + StandardOutput());
}

ConsoleServer::~ConsoleServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string ConsoleServer::StandardOutput() const { return ReadWholeFile(root_ / "stdout.txt"); }

std::string ConsoleServer::DataFile(const std::string& name) const { return ReadWholeFile(data_dir_ / name); }

int ConsoleServer::Stop(std::chrono::seconds timeout) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ConsoleServer::Exchange(const std::string& request_line, const std::vector<std::string>& header_lines,
                                    const std::string& body, const std::string& local_address) const {
    return RawExchange(port_, RawRequest(port_, request_line, header_lines, body), local_address);
}

httplib::Client ConsoleServer::Client() const {
    httplib::Client client(Origin());
    client.enable_server_certificate_verification(false);  // the console's own, self-signed
    client.set_connection_timeout(5);
    client.set_read_timeout(30);
    client.set_write_timeout(30);
    client.set_follow_location(false);
    client.set_decompress(false);
    return client;
}

std::string ConsoleServer::SignIn(const std::string& user_name, const std::string& password) const {
    httplib::Client client = Client();
    const httplib::Result result = client.Post("/login", httplib::Headers{{"Origin", Origin()}},
                                               "username=" + httplib::detail::encode_query_param(user_name) +
                                                   "&password=" + httplib::detail::encode_query_param(password),
                                               "application/x-www-form-urlencoded");
    if (!result || result->status != 303) {
        ADD_FAILURE() << "sign-in failed: " << (result ? result->status : -1);
        return {};
    }
    const std::string cookie = result->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
}

httplib::Headers ConsoleServer::FormHeaders(const std::string& cookie) const {
    return {{"Cookie", cookie}, {"Origin", Origin()}};
}

int ConnectFrom(const std::string& local_address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    // The port is chosen at connect, clear of the console's TIME_WAIT entries
    // for this address (their SYNs would wait a second to be retried).
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &yes, sizeof yes);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, local_address.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot connect from " + local_address);
    }
    return fd;
}

std::string RawExchange(int port, const std::string& request, const std::string& local_address,
                        std::chrono::milliseconds timeout) {
    const int fd = ConnectFrom(local_address, port);
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the console may refuse before it has read everything
        sent += static_cast<std::size_t>(n);
    }
    std::string response;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd poll_fd{fd, POLLIN, 0};
        if (::poll(&poll_fd, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        response.append(buffer, static_cast<std::size_t>(n));
        if (IsComplete(response)) break;  // without waiting for a kept-alive connection to close
    }
    ::close(fd);
    return response;
}

std::string RawRequest(int port, const std::string& request_line, const std::vector<std::string>& header_lines,
                       const std::string& body) {
    std::string request = request_line + "\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nConnection: close\r\n";
    bool has_length = false;
    for (const std::string& line : header_lines) {
        request += line + "\r\n";
        has_length = has_length || line.rfind("Content-Length:", 0) == 0;
    }
    if (!has_length && !body.empty()) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return request + "\r\n" + body;
}

std::string RawHeader(const std::string& response, const std::string& name) {
    const std::string head = response.substr(0, response.find("\r\n\r\n"));
    const std::string key = "\r\n" + name + ": ";
    const std::size_t at = head.find(key);
    if (at == std::string::npos) return {};
    const std::size_t start = at + key.size();
    return head.substr(start, head.find("\r\n", start) - start);
}

std::string Gzipped(const std::string& text) {
    std::string compressed;
    httplib::detail::gzip_compressor().compress(text.data(), text.size(), true,
                                                [&](const char* data, std::size_t size) {
                                                    compressed.append(data, size);
                                                    return true;
                                                });
    return compressed;
}

std::string Gunzipped(const std::string& compressed) {
    std::string text;
    const bool whole = httplib::detail::gzip_decompressor().decompress(compressed.data(), compressed.size(),
                                                                       [&](const char* data, std::size_t size) {
                                                                           text.append(data, size);
                                                                           return true;
                                                                       });
    return whole ? text : "(not gzip)";
}

std::string RawBody(const std::string& response) {
    const std::size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

int RawStatus(const std::string& response) {
    if (response.rfind("HTTP/1.1 ", 0) != 0) return 0;
    return std::atoi(response.c_str() + 9);
}

std::string RunConsole(const std::vector<std::string>& arguments, const std::string& standard_input,
                       const std::vector<std::pair<std::string, std::string>>& environment) {
    ProcessOptions options;
    options.standard_input = standard_input;
    options.environment = environment;
    const ProcessResult result = RunProcess(ConsolePath(), arguments, options);
    EXPECT_EQ(result.exit_code, 0) << result.standard_error;
    return result.standard_output;
}

std::vector<std::string> StoredApprovedList(const std::filesystem::path& data_dir) {
    const nlohmann::json dump = nlohmann::json::parse(
        RunConsole({"store", "dump", "QZ_UFApprovedLists", "UF_APPROVED_LIST", "--data", data_dir.string()}));
    return dump.at("QZ_UFApprovedLists").at("UF_APPROVED_LIST").at("ApprovedLists").at("value");
}

namespace {

std::string PolicyText(const std::string& instance, const std::string& property, const std::string& store_option,
                       const std::string& store) {
    const nlohmann::json dump =
        nlohmann::json::parse(RunConsole({"store", "dump", "QZ_UrlFilter", instance, store_option, store}));
    const nlohmann::json& policy = dump.at("QZ_UrlFilter").at(instance);
    const auto found = policy.find(property);
    if (found != policy.end()) return found->at("value");
    return policy.at("UFNotificationSettings").at("value").at(property).at("value");
}

}  // namespace

std::string StoredPolicyText(const std::filesystem::path& data_dir, const std::string& instance,
                             const std::string& property) {
    return PolicyText(instance, property, "--data", data_dir.string());
}

std::string StoredPolicyTextAt(const std::string& store_url, const std::string& instance, const std::string& property) {
    return PolicyText(instance, property, "--store", store_url);
}

std::string StoredPasswordHash(const std::filesystem::path& data_dir, const std::string& account) {
    sqlite3* db = nullptr;
    std::string hash;
    if (sqlite3_open_v2((data_dir / "store.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* select = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT password FROM accounts WHERE name = ?1", -1, &select, nullptr) ==
            SQLITE_OK) {
            sqlite3_bind_text(select, 1, account.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(select) == SQLITE_ROW)
                hash = reinterpret_cast<const char*>(sqlite3_column_text(select, 0));
        }
        sqlite3_finalize(select);
    }
    sqlite3_close(db);
    return hash;
}

std::size_t AuditRecordCount(const std::filesystem::path& data_dir, const std::string& action) {
    std::vector<std::string> arguments = {"audit", "--json", "--data", data_dir.string()};
    if (!action.empty()) arguments.insert(arguments.end(), {"--action", action});
    const std::string lines = RunConsole(arguments);
    std::size_t count = 0;
    for (char c : lines) count += c == '\n' ? 1 : 0;
    return count;
}

}  // namespace tessera::test
