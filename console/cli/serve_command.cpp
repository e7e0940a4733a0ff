// `tessera-console serve`.
#include "serve_command.h"

#include "access_log.h"
#include "account_directory.h"
#include "audit_forwarder.h"
#include "commands.h"
#include "console_context.h"
#include "debug_log.h"
#include "host_config.h"
#include "http_console.h"
#include "machine_names.h"
#include "plugin_module.h"
#include "request_screening.h"
#include "tls_identity.h"

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace tessera::console {
namespace {

struct ServeOptions {
    CommonOptions common;
    std::string listen = "127.0.0.1:8080";
    ConnectionLimits connections;
    std::size_t max_form_fields = FormLimits{}.max_fields;
    long header_timeout_seconds =
        std::chrono::duration_cast<std::chrono::seconds>(ConnectionLimits{}.header_timeout).count();
    std::filesystem::path tls_certificate_file;
    std::filesystem::path tls_key_file;
    bool is_insecure_http_allowed = false;
    bool is_two_factor_required = false;
    bool is_two_factor_optional = false;
    int api_requests_per_minute = ApiSettings{}.requests_per_minute;
    std::string audit_syslog;  // a collector's URL; empty: none
    CollectorTls audit_syslog_tls;
    bool is_audit_journal = false;
};

// Where the audit records go besides the store; refuses a bad URL or TLS file
// before the console serves.
std::vector<std::unique_ptr<AuditDestination>> AuditDestinations(const ServeOptions& options) {
    std::vector<std::unique_ptr<AuditDestination>> destinations;
    if (!options.audit_syslog.empty()) {
        try {
            destinations.push_back(SyslogDestination(options.audit_syslog, options.audit_syslog_tls));
        } catch (const std::exception& refused) {
            throw CommandError(kExitUsage, std::string("--audit-syslog: ") + refused.what());
        }
    }
    if (options.is_audit_journal) destinations.push_back(JournalDestination());
    return destinations;
}

// Holds an exclusive lock on <data>/console.lock while the console serves, so
// that a second console on the same folder (with its own sessions and sign-in
// throttle) is refused instead of quietly splitting them.
class DataFolderLock {
public:
    explicit DataFolderLock(const std::filesystem::path& data_dir) {
        const std::filesystem::path file = data_dir / "console.lock";
        fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd_ < 0) throw std::runtime_error("cannot open " + file.string());
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            char holder[32] = {};
            [[maybe_unused]] const ssize_t read = ::pread(fd_, holder, sizeof holder - 1, 0);
            ::close(fd_);
            throw CommandError(kExitFailure, "another console (process " + std::string(holder) +
                                                 ") already serves the data folder " + data_dir.string() +
                                                 "; stop it first, or give this one its own --data");
        }
        const std::string pid = std::to_string(::getpid());
        if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
            DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "cannot write %s", file.c_str());
        }
    }
    ~DataFolderLock() { ::close(fd_); }
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

private:
    int fd_ = -1;
};

// The names a browser reaches the console by: the listen host, or on every
// address the machine's host name and addresses (none: localhost alone).
std::vector<std::string> ReachableNames(const std::string& listen_host) {
    if (!IsWildcardHost(listen_host)) return {listen_host};
    MachineNames machine = NamesOfThisMachine();
    std::vector<std::string> names;
    if (!machine.host_name.empty()) names.push_back(std::move(machine.host_name));
    for (std::string& address : machine.addresses) names.push_back(std::move(address));
    return names;
}

std::string Url(bool is_tls, const std::string& host, int port) {
    const bool is_ipv6 = host.find(':') != std::string::npos;
    return std::string(is_tls ? "https://" : "http://") + (is_ipv6 ? "[" + host + "]" : host) + ":" +
           std::to_string(port) + "/";
}

// The TLS context to serve with, or null for plain HTTP; says on standard
// output which certificate is used.
TlsContext ChooseTls(const ServeOptions& options, const ConsoleSettings& settings) {
    const bool is_given = !options.tls_certificate_file.empty() || !options.tls_key_file.empty();
    if (is_given) {
        if (options.tls_certificate_file.empty() || options.tls_key_file.empty()) {
            throw CommandError(kExitUsage, "--tls-cert and --tls-key go together");
        }
        return MakeTlsContext(options.tls_certificate_file, options.tls_key_file);
    }
    if (IsLoopbackListenHost(settings.listen_host) || options.is_insecure_http_allowed) {
        return TlsContext(nullptr, &SSL_CTX_free);
    }
    const SelfSignedCertificate made =
        EnsureSelfSignedCertificate(settings.data_dir / "tls", ReachableNames(settings.listen_host));
    std::cout << (made.is_new ? "Made a self-signed certificate: " : "Using the self-signed certificate ")
              << made.certificate_file.string()
              << "\nIts fingerprint, to compare with the browser's: " << CertificateFingerprint(made.certificate_file)
              << "\n";
    return MakeTlsContext(made.certificate_file, made.key_file);
}

// "host:port", "[v6]:port"; the port may be 0 for any free one.
void ParseListenAddress(const std::string& text, ConsoleSettings& settings) {
    const std::size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    std::string host = colon == std::string::npos ? std::string() : text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) > 65535) {
        throw CommandError(kExitUsage, "--listen wants ADDRESS:PORT, such as 127.0.0.1:8080, not \"" + text + "\"");
    }
    settings.listen_host = host;
    settings.listen_port = std::stoi(port);
}

// How to sign in: the first administrator, made on first start, or the
// accounts there are.
std::string SignInHint(AccountDirectory& accounts, const std::filesystem::path& data_dir) {
    std::string hint = EnsureFirstAccount(accounts, data_dir);
    if (!hint.empty()) return hint;
    // A password in the environment that is not the account's would mislead whoever set it.
    const char* from_environment = std::getenv(kAdminPasswordVariable);
    if (from_environment != nullptr && *from_environment != '\0' &&
        !accounts.Authenticate(kFirstAdministrator, from_environment)) {
        hint = std::string(kAdminPasswordVariable) +
               " is ignored: it sets the first administrator's password on the first start only.\n";
    }
    return hint + "Sign in with your account (`tessera-console user list` names them).\n";
}

// Blocks SIGINT and SIGTERM; called before any other thread exists, so that
// every thread inherits the mask and only SignalWaiter takes them.
sigset_t BlockShutdownSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// Stops the console at SIGINT or SIGTERM, from a thread of its own.
class SignalWaiter {
public:
    SignalWaiter(const sigset_t& signals, HttpConsole& console)
        : waiter_([this, signals, &console] {
              const timespec poll_interval{0, 200 * 1000 * 1000};
              while (!is_done_) {
                  const int signal_number = sigtimedwait(&signals, nullptr, &poll_interval);
                  if (signal_number <= 0) continue;
                  std::cout << "Stopping: no new connections; finishing the requests in flight." << std::endl;
                  DBG::DebugLogEx(nullptr, 258, kConsoleLogSource, __LINE__, "signal %d: shutting down", signal_number);
                  console.Stop();
                  return;
              }
          }) {}
    ~SignalWaiter() {
        is_done_ = true;
        waiter_.join();
    }
    SignalWaiter(const SignalWaiter&) = delete;
    SignalWaiter& operator=(const SignalWaiter&) = delete;

private:
    std::atomic<bool> is_done_{false};
    std::thread waiter_;
};

void RunServe(const ServeOptions& options) {
    const sigset_t shutdown_signals = BlockShutdownSignals();
    host::WriteKeptDebugLinesOnCrash();

    ConsoleSettings settings;
    ParseListenAddress(options.listen, settings);
    settings.connections = options.connections;
    settings.connections.header_timeout = std::chrono::seconds(options.header_timeout_seconds);
    settings.max_form_fields = options.max_form_fields;
    // Off loopback the console is reachable by others: a password alone is not enough there.
    settings.require_two_factor = options.is_two_factor_required ||
                                  (!options.is_two_factor_optional && !IsLoopbackListenHost(settings.listen_host));

    std::vector<std::unique_ptr<AuditDestination>> audit_destinations = AuditDestinations(options);
    const auto store = PrepareHost(options.common);
    // A damaged store would serve as an empty list, or lose what is saved next.
    if (const std::vector<std::string> damage = store->CheckIntegrity(); !damage.empty()) {
        throw CommandError(kExitFailure, DamagedStoreMessage(*store, damage));
    }
    const host::HostSettings host_settings = host::CurrentSettings();
    settings.data_dir = host_settings.data_dir;
    settings.static_dir = host_settings.web_root / "web" / "static";
    settings.api.document = host_settings.web_root / "web" / "api" / "openapi.json";
    settings.api.requests_per_minute = options.api_requests_per_minute;
    const DataFolderLock data_folder_lock(settings.data_dir);
    const TlsContext tls = ChooseTls(options, settings);
    settings.tls_context = tls.get();
    AccountDirectory accounts(store);
    const std::string sign_in_hint = SignInHint(accounts, settings.data_dir);

    const PluginModule plugin(ResolvePluginPath(options.common));
    {
        // Deinitialized once the console no longer serves.
        const PluginSession session(plugin);
        HttpConsole console(settings, plugin, store);
        // Forwards until the console no longer serves; what is left waits in the outbox.
        const AuditForwarder forwarder(store, std::move(audit_destinations));
        int port = 0;
        try {
            port = console.Bind();
        } catch (...) {
            std::cout << sign_in_hint;  // a generated password must not be lost
            throw;
        }
        const std::vector<std::string> names = ReachableNames(settings.listen_host);
        const std::string first = names.empty() ? std::string("localhost") : names.front();
        std::cout << "Tessera console: open " << Url(tls != nullptr, first, port) << " in a browser.\n";
        if (names.size() > 1) {
            std::cout << "It also answers at";
            for (std::size_t index = 1; index < names.size(); ++index) {
                std::cout << (index == 1 ? " " : ", ") << Url(tls != nullptr, names[index], port);
            }
            std::cout << "\n";
        }
        std::cout << sign_in_hint << std::flush;
        DBG::DebugLogEx(nullptr, 258, kConsoleLogSource, __LINE__, "listening on %s port %d",
                        settings.listen_host.c_str(), port);
        const SignalWaiter signal_waiter(shutdown_signals, console);
        console.Serve();
    }
    DBG::DebugLogEx(nullptr, 258, kConsoleLogSource, __LINE__, "%s", "stopped");
    std::cout << "Stopped." << std::endl;
}

}  // namespace

void AddServeCommand(CLI::App& app) {
    auto options = std::make_shared<ServeOptions>();
    CLI::App* command = app.add_subcommand("serve", "Serve the web console over HTTP");
    AddCommonOptions(*command, options->common, true);
    command->add_option("--listen", options->listen, "ADDRESS:PORT to listen on")->capture_default_str();
    ConnectionLimits& limits = options->connections;
    command->add_option("--max-body", limits.max_body_bytes, "Largest request body, such as 64MiB")
        ->transform(CLI::AsSizeValue(false))
        ->capture_default_str();
    command->add_option("--max-fields", options->max_form_fields, "Most fields in one form (a list entry is one)")
        ->check(CLI::Range(std::size_t{16}, std::size_t{100'000'000}))
        ->capture_default_str();
    command
        ->add_option("--api-rate-limit", options->api_requests_per_minute,
                     "Requests one automation token may make in a minute")
        ->check(CLI::Range(1, 1'000'000))
        ->capture_default_str();
    command->add_option("--threads", limits.worker_threads, "Requests handled at once")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    command->add_option("--max-connections", limits.max_connections, "Open connections, all clients together")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    command
        ->add_option("--max-connections-per-address", limits.max_connections_per_address,
                     "Open connections from one client address")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    command
        ->add_option("--trusted-proxy", limits.trusted_proxies,
                     "A load balancer's address: its requests are from the last address of their X-Forwarded-For "
                     "(repeat for each)")
        ->type_name("ADDRESS")
        ->transform([](std::string address) {
            const std::optional<std::string> canonical = CanonicalAddress(address);
            if (!canonical) throw CLI::ValidationError("--trusted-proxy", "not an IPv4 or IPv6 address: " + address);
            return *canonical;
        });
    command
        ->add_option("--header-timeout", options->header_timeout_seconds,
                     "Seconds a client has to send a request's headers")
        ->check(CLI::Range(1, 600))
        ->capture_default_str();
    command->add_option("--tls-cert", options->tls_certificate_file, "PEM certificate chain: serve HTTPS")
        ->check(CLI::ExistingFile)
        ->type_name("FILE");
    command->add_option("--tls-key", options->tls_key_file, "PEM private key of --tls-cert")
        ->check(CLI::ExistingFile)
        ->type_name("FILE");
    command->add_flag("--insecure-http", options->is_insecure_http_allowed,
                      "Serve plain HTTP on an address other than loopback (else HTTPS with a certificate made "
                      "on first start in <data>/tls)");
    CLI::Option* required = command->add_flag(
        "--require-two-factor", options->is_two_factor_required,
        "After the password, an account without a second factor may only enrol one (the default off loopback)");
    command
        ->add_flag("--no-require-two-factor", options->is_two_factor_optional,
                   "Let accounts without a second factor in with their password alone, on any address")
        ->excludes(required);
    command
        ->add_option("--audit-syslog", options->audit_syslog,
                     "Forward every audit record to this syslog collector: tcp://HOST:PORT or tls://HOST:PORT")
        ->type_name("URL");
    command
        ->add_option("--audit-syslog-ca", options->audit_syslog_tls.ca_file,
                     "PEM certificate authorities the collector's TLS certificate is checked against "
                     "(else the system's)")
        ->check(CLI::ExistingFile)
        ->type_name("FILE");
    CLI::Option* client_certificate =
        command
            ->add_option("--audit-syslog-cert", options->audit_syslog_tls.certificate_file,
                         "PEM client certificate, for a collector that asks for one")
            ->check(CLI::ExistingFile)
            ->type_name("FILE");
    command
        ->add_option("--audit-syslog-key", options->audit_syslog_tls.key_file, "PEM private key of --audit-syslog-cert")
        ->check(CLI::ExistingFile)
        ->type_name("FILE")
        ->needs(client_certificate);
    client_certificate->needs("--audit-syslog-key");
    command->add_flag("--audit-journal", options->is_audit_journal,
                      "Forward every audit record to the systemd journal");
    command->callback([options] { RunServe(*options); });
}

}  // namespace tessera::console
