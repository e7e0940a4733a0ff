// The console's History page: every audit record, newest first, with what
// each action changed, and the restore of the state before any change.
#pragma once

#include "console_store.h"
#include "decimal_text.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tessera::console {

struct HistoryView {
    host::HistoryQuery query;
    std::string notice;  // shown at the top of the page
    bool is_error = false;
    std::string top_bar;      // of the signed-in account
    bool can_restore = true;  // the account may restore: each change gets its button
};

// The view that the History page's address asks for: ?action=&since=&until=
// (dates as YYYY-MM-DD), ?before=SEQ for older records, ?restored=SEQ after a
// restore. A value it cannot take gives the unfiltered view with a notice
// that names it.
HistoryView HistoryViewOf(const std::multimap<std::string, std::string>& parameters, host::ConsoleStore& store);

// The page, or nullopt when its template cannot be opened.
std::optional<std::string> RenderHistoryPage(host::ConsoleStore& store, const HistoryView& view);

// The record number a form or an address names: decimal digits only; 0 for
// anything else.
inline std::int64_t RecordSeqOf(const std::string& text) { return DecimalOf(text).value_or(0); }

// Puts back the objects that record `seq` and every later record changed as
// they were before record `seq`, as one action named "restore" with its own
// audit record. On failure `error` says why in plain words. `check` runs
// first inside the action, and may end it with host::AbandonedAction.
host::ActionOutcome RestoreBefore(host::ConsoleStore& store, std::int64_t seq, const std::string& user_name,
                                  const std::string& client_address, std::string& error,
                                  const host::ActionChannel& channel, const std::function<void()>& check = {});

}  // namespace tessera::console
