// The chain over the audit records: each record's chain value is the SHA-256
// of the chain value before it and of the record's own bytes, so that a
// record changed, removed, inserted or moved outside the console shows.
#pragma once

#include "console_store.h"
#include "database.h"
#include "sql_text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessera::host::sql {

// The fields of a record that its chain value covers, as the store keeps them.
struct ChainedFields {
    std::int64_t seq = 0;
    std::string_view time, user, client_address, page_id, channel, token;
    std::int64_t event_type = 0;
    std::int64_t source_type = 0;
    std::string_view message;
};

// The chain value (64 lowercase hexadecimal digits) of a record whose
// predecessor's chain value is `previous` (empty for the first record).
std::string ChainValue(std::string_view previous, const ChainedFields& fields);

// Gives record `seq`, just inserted with its action, its chain value.
void ChainAuditRecord(Database& database, std::int64_t seq, const ChainedFields& fields);

// Gives every record its chain value, in order: for a store whose records
// were made before there was a chain, in the transaction that adds it.
void ChainEveryAuditRecord(Database& database);

// Walks every record in order. With `kept_seq` and `kept_chain` (a head kept
// elsewhere), the chain also breaks when that record is gone or carries
// another value.
AuditChainCheck CheckAuditChain(Database& database, std::optional<std::int64_t> kept_seq,
                                const std::string& kept_chain);

}  // namespace tessera::host::sql
