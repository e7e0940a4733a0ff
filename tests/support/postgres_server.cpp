// Starts and stops the tests' PostgreSQL servers.
#include "postgres_server.h"
#include "process_runner.h"

#include <libpq-fe.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace tessera::test {

namespace {

constexpr const char* kServerUser = "postgres";  // the account Debian's package makes
constexpr const char* kRole = "tessera";

std::filesystem::path ServerProgram(const std::string& name) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
        if (std::filesystem::exists(entry.path() / "bin" / name)) found.push_back(entry.path() / "bin" / name);
    }
    if (found.empty()) {
        throw std::runtime_error("no PostgreSQL server: /usr/lib/postgresql/*/bin/" + name +
                                 " is missing (scripts/install-deps installs postgresql-15)");
    }
    std::sort(found.begin(), found.end());
    return found.back();
}

}  // namespace

PostgresServer::PostgresServer(const PostgresServer* standby_of) {
    if (geteuid() == 0) {
        const passwd* account = getpwnam(kServerUser);
        if (account == nullptr) throw std::runtime_error("no postgres account to run the test server as");
        std::filesystem::permissions(folder_.path(), std::filesystem::perms::owner_all);
        if (chown(folder_.path().c_str(), account->pw_uid, account->pw_gid) != 0) {
            throw std::runtime_error("cannot give " + folder_.path().string() + " to the postgres account");
        }
    }
    const std::string data = (folder_.path() / "data").string();
    if (standby_of == nullptr) {
        RunAsServerUser({ServerProgram("initdb").string(), "-D", data, "-U", kRole, "-A", "trust", "--no-locale", "-E",
                         "UTF8", "--no-sync"});
    } else {
        RunAsServerUser({ServerProgram("pg_basebackup").string(), "-D", data, "-h", "127.0.0.1", "-p",
                         std::to_string(standby_of->port_), "-U", kRole, "-R", "-X", "stream", "-c", "fast",
                         "--no-sync"});
    }
    Start();
}

PostgresServer::~PostgresServer() {
    if (is_running_) {
        try {
            Stop("immediate");
        } catch (const std::exception&) {
            // the folder goes anyway; a server without it stops on its own
        }
    }
}

PostgresServer& PostgresServer::Shared() {
    static PostgresServer server;
    return server;
}

std::string PostgresServer::Url(const std::string& database) const {
    return "postgresql://" + std::string(kRole) + "@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresServer::CreateDatabase() {
    const std::string name = "test_" + std::to_string(getpid()) + "_" + std::to_string(++next_database_);
    Execute(Url("postgres"), "CREATE DATABASE " + name);
    return Url(name);
}

void PostgresServer::Execute(const std::string& url, const std::string& sql) {
    PGconn* connection = PQconnectdb(url.c_str());
    std::string failure;
    if (PQstatus(connection) != CONNECTION_OK) {
        failure = PQerrorMessage(connection);
    } else {
        PGresult* result = PQexec(connection, sql.c_str());
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) failure = PQresultErrorMessage(result);
        PQclear(result);
    }
    PQfinish(connection);
    if (!failure.empty()) throw std::runtime_error(url + ": " + sql.substr(0, 200) + ": " + failure);
}

void PostgresServer::Start() {
    if (port_ == 0) port_ = FreeLoopbackPort();  // kept: a restart answers where it did
    // fsync off: the tests stop servers, never the machine; every commit still
    // reaches the kernel before the client hears of it.
    RunAsServerUser({ServerProgram("pg_ctl").string(), "start", "-D", (folder_.path() / "data").string(), "-l",
                     (folder_.path() / "server.log").string(), "-w", "-t", "60", "-o",
                     "-p " + std::to_string(port_) + " -c listen_addresses=127.0.0.1 -k " + folder_.path().string() +
                         " -c fsync=off -c max_connections=300"});
    is_running_ = true;
}

void PostgresServer::Stop(const std::string& mode) {
    RunAsServerUser(
        {ServerProgram("pg_ctl").string(), "stop", "-D", (folder_.path() / "data").string(), "-m", mode, "-w"});
    is_running_ = false;
}

void PostgresServer::Promote() {
    RunAsServerUser({ServerProgram("pg_ctl").string(), "promote", "-D", (folder_.path() / "data").string(), "-w"});
}

void PostgresServer::RunAsServerUser(const std::vector<std::string>& command) const {
    std::vector<std::string> arguments(command.begin() + 1, command.end());
    std::filesystem::path program = command.front();
    if (geteuid() == 0) {
        arguments.insert(arguments.begin(), {"-u", kServerUser, "--", program.string()});
        program = "/usr/sbin/runuser";
    }
    const ProcessResult result = RunProcess(program, arguments, {std::nullopt, {}, std::chrono::seconds(120)});
    if (result.exit_code != 0) {
        throw std::runtime_error(command.front() + " " + (command.size() > 1 ? command[1] : "") +
                                 " failed: " + result.standard_error + result.standard_output +
                                 ReadWholeFile(folder_.path() / "server.log"));
    }
}

}  // namespace tessera::test
