// The forwarding threads.
#include "audit_forwarder.h"
#include "access_log.h"
#include "debug_log.h"

#include <algorithm>
#include <exception>

namespace tessera::console {
namespace {

// Records delivered at once: a collector away for a day catches up in large steps.
constexpr std::size_t kBatch = 500;

}  // namespace

AuditForwarder::AuditForwarder(std::shared_ptr<host::ConsoleStore> store,
                               std::vector<std::unique_ptr<AuditDestination>> destinations, ForwardingTimes times)
    : store_(std::move(store)), destinations_(std::move(destinations)), times_(times) {
    for (const auto& destination : destinations_) names_.push_back(destination->Name());
    store_->StartForwarding(names_);
    for (const auto& destination : destinations_) {
        threads_.emplace_back([this, &destination] { Forward(*destination); });
    }
}

AuditForwarder::~AuditForwarder() {
    {
        const std::lock_guard lock(mutex_);
        is_stopping_ = true;
    }
    stopped_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

bool AuditForwarder::Wait(std::chrono::milliseconds how_long) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, how_long, [this] { return is_stopping_; });
}

void AuditForwarder::Forward(AuditDestination& destination) {
    std::chrono::milliseconds retry = times_.first_retry;
    std::string last_error;
    for (;;) {
        try {
            const std::vector<host::OutboxRecord> records = store_->ReadOutbox(destination.Name(), kBatch);
            if (records.empty()) {
                if (!Wait(times_.poll)) return;
                continue;
            }
            const std::size_t delivered = destination.Deliver(records);
            store_->MarkForwarded(destination.Name(), records.at(delivered - 1).entry.record.seq, names_);
            retry = times_.first_retry;
            if (!last_error.empty()) {
                DBG::DebugLogEx(nullptr, 258, kConsoleLogSource, __LINE__, "forwarding to %s again",
                                destination.Name().c_str());
                last_error.clear();
            }
            continue;
        } catch (const std::exception& failure) {
            // The same failure again and again is logged once.
            if (last_error != failure.what()) {
                last_error = failure.what();
                DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "forwarding to %s: %s",
                                destination.Name().c_str(), last_error.c_str());
            }
            try {
                store_->NoteForwardingError(destination.Name(), last_error);
            } catch (const std::exception&) {
                // The store is away too; the debug log has the reason.
            }
        }
        if (!Wait(retry)) return;
        retry = std::min(retry * 2, times_.longest_retry);
    }
}

}  // namespace tessera::console
