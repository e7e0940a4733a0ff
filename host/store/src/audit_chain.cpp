// The chain over the audit records.
#include "audit_chain.h"
#include "sql_text.h"
#include "text_util.h"

#include <openssl/sha.h>

#include <string>

namespace tessera::host::sql {
namespace {

// Names what the bytes are, so that a later form of them can be told apart.
constexpr std::string_view kChainFormat = "tessera audit chain 1\n";

// Each field as its length in bytes, ":", its bytes and a line feed: no two
// records' fields make the same bytes.
void AddField(std::string& bytes, std::string_view field) {
    bytes += std::to_string(field.size());
    bytes += ':';
    bytes += field;
    bytes += '\n';
}

ChainedFields FieldsOfRow(const Statement& row) {
    ChainedFields fields;
    fields.seq = row.Integer(0);
    fields.time = row.TextView(1);
    fields.user = row.TextView(2);
    fields.client_address = row.TextView(3);
    fields.page_id = row.TextView(4);
    fields.event_type = row.Integer(5);
    fields.source_type = row.Integer(6);
    fields.message = row.TextView(7);
    fields.channel = row.TextView(8);
    fields.token = row.TextView(9);
    return fields;
}

std::string Missing(std::int64_t first, std::int64_t last) {
    return first == last
               ? "record " + std::to_string(first) + " is missing: it was removed"
               : "records " + std::to_string(first) + " to " + std::to_string(last) + " are missing: they were removed";
}

}  // namespace

std::string ChainValue(std::string_view previous, const ChainedFields& fields) {
    std::string bytes(previous);
    bytes += kChainFormat;
    AddField(bytes, std::to_string(fields.seq));
    for (const std::string_view text :
         {fields.time, fields.user, fields.client_address, fields.page_id, fields.channel, fields.token}) {
        AddField(bytes, text);
    }
    AddField(bytes, std::to_string(fields.event_type));
    AddField(bytes, std::to_string(fields.source_type));
    AddField(bytes, fields.message);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    std::string value;
    for (const unsigned char byte : digest) AppendHexDigits(value, byte, HexDigitCase::kLower);
    return value;
}

void ChainAuditRecord(Database& database, std::int64_t seq, const ChainedFields& fields) {
    Statement previous(database, kSelectChainBefore);
    const std::string previous_chain = previous.Bind(1, seq).Step() ? previous.Text(0) : std::string();
    Statement(database, kSetAuditChain).Bind(1, ChainValue(previous_chain, fields)).Bind(2, seq).Step();
}

void ChainEveryAuditRecord(Database& database) {
    std::string chain;
    Statement select(database, kSelectChainedAudit);
    while (select.Step()) {
        chain = ChainValue(chain, FieldsOfRow(select));
        Statement(database, kSetAuditChain).Bind(1, chain).Bind(2, select.Integer(0)).Step();
    }
}

AuditChainCheck CheckAuditChain(Database& database, std::optional<std::int64_t> kept_seq,
                                const std::string& kept_chain) {
    AuditChainCheck check;
    const auto broken = [&check](std::int64_t seq, std::string problem) {
        check.broken_at = seq;
        check.problem = std::move(problem);
        return check;
    };
    Statement select(database, kSelectChainedAudit);
    while (select.Step()) {
        const ChainedFields fields = FieldsOfRow(select);
        const std::string_view stored = select.TextView(10);
        if (fields.seq != check.head_seq + 1) {
            // A kept head inside the gap names it: those records were there once.
            return broken(check.head_seq + 1, Missing(check.head_seq + 1, fields.seq - 1));
        }
        if (stored.empty()) {
            return broken(fields.seq,
                          "record " + std::to_string(fields.seq) + " has no chain value: the console did not write it");
        }
        if (stored != ChainValue(check.head_chain, fields)) {
            return broken(fields.seq, "record " + std::to_string(fields.seq) +
                                          " is not what was chained: it was changed, or another was put in its place");
        }
        check.head_seq = fields.seq;
        check.head_chain = std::string(stored);
        ++check.records;
        if (kept_seq == fields.seq && stored != kept_chain) {
            return broken(fields.seq, "record " + std::to_string(fields.seq) +
                                          " is not the kept head: the records up to it were written again");
        }
    }
    if (kept_seq && *kept_seq > check.head_seq) {
        return broken(check.head_seq + 1, Missing(check.head_seq + 1, *kept_seq) + " after the kept head was taken");
    }
    return check;
}

}  // namespace tessera::host::sql
