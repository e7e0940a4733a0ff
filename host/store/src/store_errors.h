// How the store reports what went wrong: to the debug log, and to the
// administrator in words they can act on.
#pragma once

#include "console_store.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace tessera::host::sql {

// Writes `what` to the debug log as a failure of the store, at `line`.
void LogFailure(int line, const std::string& what);

// What kind of refusal a statement met, whichever engine refused it.
enum class Refusal {
    kBusy,         // another writer held the store past the busy timeout
    kReadOnly,     // the file, or the database server (a standby), takes no writes
    kFull,         // no room left for the data
    kInputOutput,  // the disk failed
    kDamaged,      // the engine's own files are damaged
    kUnreachable,  // the database server cannot be reached, or went away
    kOther,
};

// Why a statement was refused, in words an administrator can act on.
std::string ReasonOf(Refusal refusal, const std::string& what);

// A statement the engine refused.
class StoreError : public StoreRefused {
public:
    StoreError(Refusal refusal, const std::string& what)
        : StoreRefused(what, ReasonOf(refusal, what)), refusal_(refusal) {}
    Refusal Kind() const { return refusal_; }

private:
    Refusal refusal_;
};

// Why a write was refused, in words an administrator can act on.
std::string PlainReason(const std::exception& error);

}  // namespace tessera::host::sql
