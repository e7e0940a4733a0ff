// Audit records as the store's rows and as the JSON lines of the kept-aside file.
#pragma once

#include "console_store.h"
#include "database.h"
#include "sql_text.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace tessera::host::sql {

// Stores the record and the action it belongs to; returns its seq.
std::int64_t InsertAudit(Database& database, const AuditRecord& record);

// Stores the action's changes, on its last audit record `seq`, and sets
// `summary_text` to what History shows of them.
void RecordChanges(Database& database, std::int64_t seq, const std::string& action,
                   const std::vector<nlohmann::json>& changes, std::string& summary_text);

// The record of a row of kSelectAudit or kSelectHistory, without its action.
AuditRecord AuditFromRow(const Statement& select);
// The record with its action and changes summary, of a row of kSelectHistory or kSelectOutbox.
HistoryRecord HistoryFromRow(const Statement& select);

nlohmann::json AuditToJson(const AuditRecord& record);
// Throws nlohmann::json::exception when a field is missing or of another type.
AuditRecord AuditFromJson(const nlohmann::json& json);

}  // namespace tessera::host::sql
