// Forwarding the audit records: a thread for each destination takes the
// records it has not had from the store's outbox, oldest first, delivers
// them, and notes in the store how far it got; while a destination is away it
// tries again, waiting longer each time up to a limit. Administrators'
// requests never wait for it.
#pragma once

#include "collector_link.h"
#include "console_store.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessera::console {

// One place the records go.
class AuditDestination {
public:
    virtual ~AuditDestination() = default;
    // As the store and History name it: the collector's URL, or "journal".
    virtual const std::string& Name() const = 0;
    // Delivers `records` in their order and returns how many of them it
    // delivered; throws std::runtime_error with the reason when that is none.
    virtual std::size_t Deliver(const std::vector<host::OutboxRecord>& records) = 0;
};

// A syslog collector at tcp://HOST:PORT or tls://HOST:PORT. Throws
// std::invalid_argument for a URL of another form, std::runtime_error when
// the TLS files cannot be read.
std::unique_ptr<AuditDestination> SyslogDestination(const std::string& url, const CollectorTls& tls);
// The local systemd journal.
std::unique_ptr<AuditDestination> JournalDestination();

struct ForwardingTimes {
    std::chrono::milliseconds poll{200};  // how often the outbox is looked at when it was empty
    std::chrono::milliseconds first_retry{1000};
    std::chrono::milliseconds longest_retry{10'000};
};

class AuditForwarder {
public:
    // Starts forwarding at once; the store keeps the progress of these
    // destinations only.
    AuditForwarder(std::shared_ptr<host::ConsoleStore> store,
                   std::vector<std::unique_ptr<AuditDestination>> destinations, ForwardingTimes times = {});
    // Stops every thread; what is not delivered yet stays in the outbox.
    ~AuditForwarder();
    AuditForwarder(const AuditForwarder&) = delete;
    AuditForwarder& operator=(const AuditForwarder&) = delete;

private:
    void Forward(AuditDestination& destination);
    // Waits `how_long`, or less when stopped; false once stopped.
    bool Wait(std::chrono::milliseconds how_long);

    std::shared_ptr<host::ConsoleStore> store_;
    std::vector<std::unique_ptr<AuditDestination>> destinations_;
    std::vector<std::string> names_;
    ForwardingTimes times_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool is_stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace tessera::console
