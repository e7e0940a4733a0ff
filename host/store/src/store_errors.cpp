// The store's failures in the debug log and in an administrator's words.
#include "store_errors.h"
#include "debug_log.h"
#include "mgmt_store.h"

namespace tessera::host::sql {

namespace {

constexpr const char* kLogSource = "store";
constexpr unsigned int kFailureLevel = 4099;

}  // namespace

void LogFailure(int line, const std::string& what) {
    DBG::DebugLogEx(nullptr, kFailureLevel, kLogSource, line, "%s", what.c_str());
}

std::string ReasonOf(Refusal refusal, const std::string& what) {
    switch (refusal) {
    case Refusal::kBusy:
        return "another program kept the store locked for longer than the console waits";
    case Refusal::kReadOnly:
        return "the store cannot be written: its file or folder is read-only, or its database server is a standby";
    case Refusal::kFull:
        return "the disk that holds the store is full";
    case Refusal::kInputOutput:
        return "the disk that holds the store reported an input/output error";
    case Refusal::kDamaged:
        return "the store file is damaged (tessera-console store check lists what is damaged)";
    case Refusal::kUnreachable:
        return std::string("the store's database server cannot be reached (") + what + ")";
    case Refusal::kOther:
        break;
    }
    return std::string("the store refused the change (") + what + ")";
}

// Why a write was refused, in words an administrator can act on.
std::string PlainReason(const std::exception& error) {
    if (dynamic_cast<const StoreFormatError*>(&error) != nullptr) {
        return std::string("a stored object cannot be decoded, the store is damaged (") + error.what() +
               "; tessera-console store check lists what is damaged)";
    }
    const auto* store_error = dynamic_cast<const StoreError*>(&error);
    return store_error == nullptr ? ReasonOf(Refusal::kOther, error.what()) : store_error->Reason();
}

}  // namespace tessera::host::sql
