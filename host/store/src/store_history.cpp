// History: the audit records with their actions, and the states before a record,
// rebuilt from the changes journaled since.
#include "audit_rows.h"
#include "change_journal.h"
#include "console_store.h"
#include "database.h"
#include "pending_audit.h"
#include "sql_text.h"

#include <nlohmann/json.hpp>

#include <map>
#include <utility>

namespace tessera::host {

using sql::HistoryFromRow;
using sql::kSelectChangesSince;
using sql::kSelectHistory;
using sql::Statement;

std::vector<HistoryRecord> ConsoleStore::ReadHistory(const HistoryQuery& query) {
    const auto matches = [&query](const AuditRecord& record) {
        return (query.action.empty() || record.action == query.action) &&
               (query.since.empty() || record.time >= query.since) &&
               (query.until.empty() || record.time.compare(0, query.until.size(), query.until) <= 0);
    };
    std::vector<HistoryRecord> records;
    if (query.seq == 0 && query.before_seq == 0) {
        std::vector<AuditRecord> pending = pending_audit_->Peek().records;
        for (auto record = pending.rbegin(); record != pending.rend(); ++record) {
            if (matches(*record) && (query.limit == 0 || records.size() < query.limit)) {
                records.push_back({std::move(*record), {}});
            }
        }
    }
    if (query.limit != 0 && records.size() >= query.limit) return records;
    const std::wstring action = OS::FromUtf8(query.action);
    const std::wstring since = OS::FromUtf8(query.since);
    const std::wstring until = OS::FromUtf8(query.until);
    Statement select(ThreadConnection(), kSelectHistory);
    select.Bind(1, query.action.empty() ? nullptr : &action)
        .Bind(2, query.since.empty() ? nullptr : &since)
        .Bind(3, query.until.empty() ? nullptr : &until)
        .Bind(4, query.limit == 0 ? std::numeric_limits<std::int64_t>::max()
                                  : static_cast<std::int64_t>(query.limit - records.size()));
    for (const auto& [index, seq] : {std::pair{5, query.seq}, std::pair{6, query.before_seq}}) {
        select.Bind(index, seq == 0 ? std::nullopt : std::optional(seq));
    }
    while (select.Step()) records.push_back(HistoryFromRow(select));
    return records;
}

std::vector<StoredInstance> ConsoleStore::StateBefore(std::int64_t seq) {
    struct Rebuilt {
        std::wstring class_name;
        std::wstring instance_name;
        PropertyBag properties;
        std::string fingerprint;  // what the properties must hold now
    };
    std::map<std::string, Rebuilt> objects;
    bool has_change_at_seq = false;
    Statement select(ThreadConnection(), kSelectChangesSince);
    select.Bind(1, seq);
    while (select.Step()) {
        const std::int64_t change_seq = select.Integer(0);
        has_change_at_seq = has_change_at_seq || change_seq == seq;
        nlohmann::json changes;
        try {
            changes = nlohmann::json::parse(select.TextView(1));
        } catch (const nlohmann::json::exception& error) {
            throw std::runtime_error("the changes of record " + std::to_string(change_seq) +
                                     " are unreadable: " + error.what());
        }
        for (const nlohmann::json& change : changes) {
            const std::string place =
                change.at("class").get<std::string>() + "/" + change.at("instance").get<std::string>();
            auto found = objects.find(place);
            if (found == objects.end()) {
                Rebuilt object{OS::FromUtf8(change.at("class")), OS::FromUtf8(change.at("instance")), {}, {}};
                if (!Load(object.class_name, object.instance_name, object.properties)) {
                    throw std::runtime_error(place + " cannot be read");
                }
                object.fingerprint = ValuesFingerprint(object.properties);
                found = objects.emplace(place, std::move(object)).first;
            }
            Rebuilt& object = found->second;
            // A change made outside the console (store load, another tool) breaks the chain.
            if (object.fingerprint != change.at("after")) {
                throw std::runtime_error(place + " was changed outside the console after record " +
                                         std::to_string(change_seq) + ", so its earlier states are not known");
            }
            UndoChange(change, object.properties);
            object.fingerprint = change.at("before");
        }
    }
    if (!has_change_at_seq) throw std::runtime_error("record " + std::to_string(seq) + " changed nothing");
    std::vector<StoredInstance> instances;
    for (auto& [place, object] : objects) {
        if (ValuesFingerprint(object.properties) != object.fingerprint) {
            throw std::runtime_error(place + " could not be rebuilt as it was");
        }
        instances.push_back({object.class_name, object.instance_name, std::move(object.properties)});
    }
    return instances;
}

}  // namespace tessera::host
