// The forwarding outbox and each destination's progress. These writes are no
// administrative action: they are not audited and never join one.
#include "audit_rows.h"
#include "sql_text.h"
#include "sqlite_database.h"
#include "sqlite_store.h"
#include "utc_time.h"

#include <algorithm>
#include <limits>

namespace tessera::host {

using sqlite::Statement;

namespace {

std::string Now() {
    std::string time;
    AppendUtcTime(time, false);
    return time;
}

}  // namespace

void SqliteStore::StartForwarding(const std::vector<std::string>& destinations) {
    sqlite::Database& database = ThreadConnection();
    database.Write([&] {
        std::vector<std::string> known;
        for (Statement select(database, sqlite::kSelectDestinations); select.Step();) known.push_back(select.Text(0));
        for (const std::string& destination : known) {
            if (std::find(destinations.begin(), destinations.end(), destination) == destinations.end()) {
                Statement(database, sqlite::kDeleteDestination).Bind(1, destination).Step();
            }
        }
        for (const std::string& destination : destinations) {
            Statement(database, sqlite::kAddDestination).Bind(1, destination).Step();
        }
        return true;
    });
}

std::vector<OutboxRecord> SqliteStore::ReadOutbox(const std::string& destination, std::size_t limit) {
    Statement select(ThreadConnection(), sqlite::kSelectOutbox);
    select.Bind(1, destination).Bind(2, static_cast<std::int64_t>(limit));
    std::vector<OutboxRecord> records;
    while (select.Step()) records.push_back({sqlite::HistoryFromRow(select), select.Text(13)});
    return records;
}

void SqliteStore::MarkForwarded(const std::string& destination, std::int64_t seq,
                                const std::vector<std::string>& destinations) {
    sqlite::Database& database = ThreadConnection();
    database.Write([&] {
        Statement(database, sqlite::kSetSentSeq).Bind(1, destination).Bind(2, seq).Bind(3, Now()).Step();
        std::int64_t everywhere = std::numeric_limits<std::int64_t>::max();
        for (const std::string& other : destinations) {
            Statement select(database, sqlite::kSelectSentSeq);
            select.Bind(1, other);
            everywhere = std::min(everywhere, select.Step() ? select.Integer(0) : 0);
        }
        if (!destinations.empty()) Statement(database, sqlite::kDeleteSentOutbox).Bind(1, everywhere).Step();
        return true;
    });
}

void SqliteStore::NoteForwardingError(const std::string& destination, const std::string& error) {
    sqlite::Database& database = ThreadConnection();
    database.Write([&] {
        Statement(database, sqlite::kSetForwardingError).Bind(1, destination).Bind(2, error).Bind(3, Now()).Step();
        return true;
    });
}

std::vector<ForwardingState> SqliteStore::ReadForwarding() {
    std::vector<ForwardingState> states;
    for (Statement select(ThreadConnection(), sqlite::kSelectForwarding); select.Step();) {
        states.push_back(
            {select.Text(0), select.Integer(1), select.Text(2), select.Integer(5), select.Text(3), select.Text(4)});
    }
    return states;
}

}  // namespace tessera::host
