// The forwarding outbox and each destination's progress. These writes are no
// administrative action: they are not audited and never join one.
#include "audit_rows.h"
#include "console_store.h"
#include "database.h"
#include "sql_text.h"
#include "utc_time.h"

#include <algorithm>
#include <limits>

namespace tessera::host {

using sql::Statement;

namespace {

std::string Now() {
    std::string time;
    AppendUtcTime(time, false);
    return time;
}

}  // namespace

void ConsoleStore::StartForwarding(const std::vector<std::string>& destinations) {
    sql::Database& database = ThreadConnection();
    database.Write([&] {
        std::vector<std::string> known;
        for (Statement select(database, sql::kSelectDestinations); select.Step();) known.push_back(select.Text(0));
        for (const std::string& destination : known) {
            if (std::find(destinations.begin(), destinations.end(), destination) == destinations.end()) {
                Statement(database, sql::kDeleteDestination).Bind(1, destination).Step();
            }
        }
        for (const std::string& destination : destinations) {
            Statement(database, sql::kAddDestination).Bind(1, destination).Step();
        }
        return true;
    });
}

std::vector<OutboxRecord> ConsoleStore::ReadOutbox(const std::string& destination, std::size_t limit) {
    Statement select(ThreadConnection(), sql::kSelectOutbox);
    select.Bind(1, destination).Bind(2, static_cast<std::int64_t>(limit));
    std::vector<OutboxRecord> records;
    while (select.Step()) records.push_back({sql::HistoryFromRow(select), select.Text(13)});
    return records;
}

void ConsoleStore::MarkForwarded(const std::string& destination, std::int64_t seq,
                                 const std::vector<std::string>& destinations) {
    sql::Database& database = ThreadConnection();
    database.Write([&] {
        Statement(database, sql::kSetSentSeq).Bind(1, destination).Bind(2, seq).Bind(3, Now()).Step();
        std::int64_t everywhere = std::numeric_limits<std::int64_t>::max();
        for (const std::string& other : destinations) {
            Statement select(database, sql::kSelectSentSeq);
            select.Bind(1, other);
            everywhere = std::min(everywhere, select.Step() ? select.Integer(0) : 0);
        }
        if (!destinations.empty()) Statement(database, sql::kDeleteSentOutbox).Bind(1, everywhere).Step();
        return true;
    });
}

void ConsoleStore::NoteForwardingError(const std::string& destination, const std::string& error) {
    sql::Database& database = ThreadConnection();
    database.Write([&] {
        Statement(database, sql::kSetForwardingError).Bind(1, destination).Bind(2, error).Bind(3, Now()).Step();
        return true;
    });
}

std::vector<ForwardingState> ConsoleStore::ReadForwarding() {
    std::vector<ForwardingState> states;
    for (Statement select(ThreadConnection(), sql::kSelectForwarding); select.Step();) {
        states.push_back(
            {select.Text(0), select.Integer(1), select.Text(2), select.Integer(5), select.Text(3), select.Text(4)});
    }
    return states;
}

}  // namespace tessera::host
