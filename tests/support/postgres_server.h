// A real PostgreSQL server for the tests: Debian's postgresql-15, made with
// initdb in a scratch folder and run by pg_ctl on a loopback port, as an
// unprivileged user (the postgres account when the tests run as root).
#pragma once

#include "temp_folder.h"

#include <memory>
#include <string>

namespace tessera::test {

class PostgresServer {
public:
    // `standby_of`: a hot standby streaming from that server, from a base
    // backup of it. Started at once; throws std::runtime_error with the
    // server's log when it does not start.
    explicit PostgresServer(const PostgresServer* standby_of = nullptr);
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // One server for the whole test program, started on first use.
    static PostgresServer& Shared();

    int Port() const { return port_; }
    // postgresql://tessera@127.0.0.1:PORT/`database`
    std::string Url(const std::string& database) const;
    // A database of its own, empty, for one test; returns its URL.
    std::string CreateDatabase();
    // Runs `sql` (statements without parameters) on `url`; throws
    // std::runtime_error with the server's reason when one fails.
    static void Execute(const std::string& url, const std::string& sql);

    // pg_ctl stop in `mode` ("fast", "immediate"), and start again.
    void Stop(const std::string& mode = "fast");
    void Start();
    // Makes a standby the primary (pg_ctl promote, waiting until it is).
    void Promote();

private:
    void RunAsServerUser(const std::vector<std::string>& command) const;

    TempFolder folder_{"tessera-postgres"};
    int port_ = 0;
    int next_database_ = 0;
    bool is_running_ = false;
};

}  // namespace tessera::test
