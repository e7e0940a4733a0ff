// Where the records go: a syslog collector, the journal.
#include "audit_forwarder.h"
#include "audit_message.h"
#include "os_string.h"

#include <sys/uio.h>
// The entries' CODE_FILE would be this build's source path: the record says where it came from.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace tessera::console {
namespace {

// Long enough for a collector far away or busy, short enough to try again soon.
constexpr std::chrono::milliseconds kSendTimeout{10'000};

class Syslog final : public AuditDestination {
public:
    Syslog(std::string url, const CollectorTls& tls)
        : url_(std::move(url)), link_(ParseCollectorUrl(url_), tls), origin_(ThisConsole()) {}
    const std::string& Name() const override { return url_; }
    std::size_t Deliver(const std::vector<host::OutboxRecord>& records) override {
        std::string bytes;
        for (const host::OutboxRecord& record : records) bytes += OctetCounted(SyslogMessage(record, origin_));
        link_.Send(bytes, kSendTimeout);
        return records.size();
    }

private:
    std::string url_;
    CollectorLink link_;
    MessageOrigin origin_;
};

// The journal's field names: upper case, digits and "_".
std::string JournalField(const std::string& fact) {
    std::string name = "TESSERA_";
    for (const char octet : fact) name += octet == '-' ? '_' : static_cast<char>(std::toupper(octet));
    return name;
}

// Where journald takes entries. sd_journal_send reports success when nothing
// listens there, so the console looks first: a record is never taken as sent
// to a journal that does not run.
constexpr char kJournalSocket[] = "/run/systemd/journal/socket";

class Journal final : public AuditDestination {
public:
    const std::string& Name() const override { return name_; }
    // One at a time: the journal takes each record, or refuses it.
    std::size_t Deliver(const std::vector<host::OutboxRecord>& records) override {
        if (std::error_code unknown; !std::filesystem::exists(kJournalSocket, unknown)) {
            throw std::runtime_error(std::string("the journal does not run: there is no ") + kJournalSocket);
        }
        std::size_t delivered = 0;
        for (const host::OutboxRecord& record : records) {
            std::vector<std::string> fields = {
                "MESSAGE=" + MessageText(record),
                "PRIORITY=" + std::to_string(SyslogSeverity(record.entry.record)),
                "SYSLOG_FACILITY=" + std::to_string(kAuthprivFacility),
                std::string("SYSLOG_IDENTIFIER=") + kSyslogAppName,
                "TESSERA_TIME=" + record.entry.record.time,
            };
            for (const auto& [fact, value] : RecordFacts(record)) fields.push_back(JournalField(fact) + "=" + value);
            std::vector<iovec> parts;
            for (std::string& field : fields) parts.push_back({field.data(), field.size()});
            if (const int failed = sd_journal_sendv(parts.data(), static_cast<int>(parts.size())); failed < 0) {
                if (delivered > 0) return delivered;  // the next round reports it
                throw std::runtime_error(std::string("the journal did not take record ") +
                                         std::to_string(record.entry.record.seq) + ": " + std::strerror(-failed));
            }
            ++delivered;
        }
        return delivered;
    }

private:
    std::string name_ = "journal";
};

}  // namespace

std::unique_ptr<AuditDestination> SyslogDestination(const std::string& url, const CollectorTls& tls) {
    return std::make_unique<Syslog>(url, tls);
}

std::unique_ptr<AuditDestination> JournalDestination() { return std::make_unique<Journal>(); }

}  // namespace tessera::console
