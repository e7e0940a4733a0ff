// A copy of a whole store into an empty one, of either engine.
#include "console_store.h"
#include "database.h"
#include "pending_audit.h"
#include "sql_text.h"

#include <stdexcept>

namespace tessera::host {

using namespace sql;

namespace {

// Copies the rows of `table`, as they are, from `source` into `destination`; returns how many.
std::int64_t CopyRows(Database& source, Database& destination, const CopiedTable& table) {
    std::int64_t copied = 0;
    Statement select(source, table.select);
    const std::string_view types = table.types;
    while (select.Step()) {
        Statement insert(destination, table.insert);
        for (std::size_t column = 0; column < types.size(); ++column) {
            const int at = static_cast<int>(column);
            const ValueType type = types[column] == 'i' ? ValueType::kInteger : ValueType::kText;
            if (select.IsNull(at)) {
                insert.BindNull(at + 1, type);
            } else if (type == ValueType::kInteger) {
                insert.Bind(at + 1, select.Integer(at));
            } else {
                insert.Bind(at + 1, select.Text(at));
            }
        }
        insert.Step();
        ++copied;
    }
    return copied;
}

}  // namespace

StoreCopy ConsoleStore::CopyInto(const StoreAddress& destination_address) {
    const std::size_t kept_aside = pending_audit_->Peek().records.size();
    if (kept_aside != 0) {
        throw std::runtime_error(name_ + " still keeps " + std::to_string(kept_aside) + " audit records aside (in " +
                                 address_.pending_audit_file.string() +
                                 "): start the console on it once, so that they are stored, then copy it");
    }
    const std::shared_ptr<Database> destination = Connect(destination_address, busy_timeout_ms_);
    const std::string destination_name = StoreName(destination_address);
    Database& source = ThreadConnection();
    StoreCopy copy;
    source.BeginReading();  // one moment of the source
    try {
        destination->Write([&] {
            for (const char* statement : destination->Schema()) destination->Run(statement);
            if (destination->Query(kCountHeldRows) != "0") {
                throw std::runtime_error(destination_name +
                                         " is not empty: a copy goes into a new store only (a new database)");
            }
            for (const CopiedTable& table : kCopiedTables) {
                copy.rows.emplace_back(table.name, CopyRows(source, *destination, table));
            }
            return true;
        });
    } catch (const StoreError& error) {
        source.RollBack();
        throw std::runtime_error("the copy into " + destination_name + " was not stored: " + PlainReason(error));
    } catch (...) {
        source.RollBack();
        throw;
    }
    source.RollBack();  // it only read
    return copy;
}

}  // namespace tessera::host
