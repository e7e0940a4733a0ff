// The audit table and the actions beside it.
#include "audit_rows.h"
#include "audit_chain.h"
#include "change_journal.h"
#include "utc_time.h"

namespace tessera::host::sql {

namespace {

// Summaries keep this many entries of each list's additions and removals.
constexpr std::size_t kSummarySample = 20;

std::string CurrentUtcTime() {
    std::string time;
    AppendUtcTime(time, true);
    return time;
}

}  // namespace

std::int64_t InsertAudit(Database& database, const AuditRecord& record) {
    const std::string time = record.time.empty() ? CurrentUtcTime() : record.time;
    const std::string context[] = {OS::ToUtf8(record.context[0]), OS::ToUtf8(record.context[1]),
                                   OS::ToUtf8(record.context[2])};
    const std::string message = OS::ToUtf8(record.message);
    Statement insert(database, kInsertAudit);
    insert.Bind(1, time)
        .Bind(2, context[0])
        .Bind(3, context[1])
        .Bind(4, context[2])
        .Bind(5, std::int64_t{record.event_type})
        .Bind(6, std::int64_t{record.source_type})
        .Bind(7, message);
    insert.Step();
    const std::int64_t seq = insert.Integer(0);
    Statement(database, kInsertOutbox).Bind(1, seq).Step();
    if (!record.action.empty() || !record.rolled_back.empty() || !record.channel.empty()) {
        Statement action(database, kInsertAction);
        action.Bind(1, seq).Bind(2, record.action);
        for (const auto& [index, text] :
             {std::pair{3, &record.rolled_back}, std::pair{4, &record.channel}, std::pair{5, &record.token}}) {
            action.Bind(index, text->empty() ? nullptr : text);
        }
        action.Step();
    }
    ChainAuditRecord(database, seq,
                     {seq, time, context[0], context[1], context[2], record.channel, record.token, record.event_type,
                      record.source_type, message});
    return seq;
}

void RecordChanges(Database& database, std::int64_t seq, const std::string& action,
                   const std::vector<nlohmann::json>& changes, std::string& summary_text) {
    nlohmann::json summary = nlohmann::json::array();
    for (const nlohmann::json& change : changes) summary.push_back(SummarizeChange(change, kSummarySample));
    summary_text = summary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    Statement(database, kRecordChanges)
        .Bind(1, seq)
        .Bind(2, action)
        .Bind(3, summary_text)
        .Bind(4, nlohmann::json(changes).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
        .Step();
}

AuditRecord AuditFromRow(const Statement& select) {
    AuditRecord record;
    record.seq = select.Integer(0);
    record.time = select.Text(1);
    for (int index = 0; index < 3; ++index) {
        record.context[index] = OS::FromUtf8(select.Text(2 + index));
    }
    record.event_type = static_cast<int>(select.Integer(5));
    record.source_type = static_cast<int>(select.Integer(6));
    record.message = OS::FromUtf8(select.Text(7));
    return record;
}

HistoryRecord HistoryFromRow(const Statement& select) {
    HistoryRecord entry{AuditFromRow(select), select.Text(9)};
    entry.record.action = select.Text(8);
    entry.record.rolled_back = select.Text(10);
    entry.record.channel = select.Text(11);
    entry.record.token = select.Text(12);
    return entry;
}

nlohmann::json AuditToJson(const AuditRecord& record) {
    return {{"time", record.time},
            {"user", OS::ToUtf8(record.context[0])},
            {"client_address", OS::ToUtf8(record.context[1])},
            {"page_id", OS::ToUtf8(record.context[2])},
            {"event_type", record.event_type},
            {"source_type", record.source_type},
            {"message", OS::ToUtf8(record.message)},
            {"action", record.action},
            {"rolled_back", record.rolled_back},
            {"channel", record.channel},
            {"token", record.token}};
}

AuditRecord AuditFromJson(const nlohmann::json& json) {
    AuditRecord record;
    record.time = json.at("time").get<std::string>();
    record.context[0] = OS::FromUtf8(json.at("user").get<std::string>());
    record.context[1] = OS::FromUtf8(json.at("client_address").get<std::string>());
    record.context[2] = OS::FromUtf8(json.at("page_id").get<std::string>());
    record.event_type = json.at("event_type").get<int>();
    record.source_type = json.at("source_type").get<int>();
    record.message = OS::FromUtf8(json.at("message").get<std::string>());
    record.action = json.value("action", "");
    record.rolled_back = json.value("rolled_back", "");
    record.channel = json.value("channel", "");
    record.token = json.value("token", "");
    return record;
}

}  // namespace tessera::host::sql
