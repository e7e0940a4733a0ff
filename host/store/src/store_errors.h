// How the store reports what went wrong: to the debug log, and to the
// administrator in words they can act on.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace tessera::host::sqlite {

// Writes `what` to the debug log as a failure of the store, at `line`.
void LogFailure(int line, const std::string& what);

// A statement SQLite refused, with its result code.
class StoreError : public std::runtime_error {
public:
    StoreError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    // The primary result code, without the extended part.
    int PrimaryCode() const { return code_ & 0xff; }

private:
    int code_;
};

// Why a write was refused, in words an administrator can act on.
std::string PlainReason(const std::exception& error);

}  // namespace tessera::host::sqlite
