// How the console puts audit records and the changes of an action into words:
// for the command line, History and the message after an action.
#pragma once

#include "console_store.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tessera::console {

// The audit log's types: the plug-in writes changes from itself, the console
// writes sign-ins, sign-outs, restores from History and changes of accounts.
inline constexpr int kAccessEvent = 1;
inline constexpr int kChangeEvent = 2;
inline constexpr int kPluginSource = 1;
inline constexpr int kConsoleSource = 2;

std::string EventTypeName(int event_type);    // "access", "change", else "type N"
std::string SourceTypeName(int source_type);  // "page plug-in", "console", else "source N"

// Every action a record may name, as History and `audit --action` take them.
const std::vector<std::string>& ActionNames();

// One changed value or list of an action, in the words of the settings page.
struct ChangeLine {
    std::string policy;  // "Instant messages", "File transfers", or the object's class/instance
    std::string label;   // "Security level", "Approved sites"
    std::string before;  // for a list: "1 entry removed"
    std::string after;   // for a list: "14 entries added"
    bool is_list = false;
    std::size_t removed_count = 0;  // of a list
    std::size_t added_count = 0;
    std::vector<std::string> removed;  // a list's first removed and added entries
    std::vector<std::string> added;
};

// The lines of a changes summary as the store keeps it (an empty text: none).
std::vector<ChangeLine> ChangeLines(const std::string& changes_summary);

// One sentence: "14 entries added, 1 removed; Security level Low -> High", or
// "nothing changed" for an empty summary.
std::string ChangeSentence(const std::string& changes_summary);

// Through what a record came, as words after "from ADDRESS": " in the
// browser", " through the API with the token T" (`token_shown`: the token's
// name as the caller shows it), " on the command line"; empty when not known.
std::string ChannelWords(const std::string& channel, const std::string& token_shown);

// How far forwarding to a destination has got, in one sentence: "tcp://x:514:
// every record up to 1,234 delivered, the last at 2026-12-08T10:00:00Z; 3
// waiting. Last error at 2026-12-08T09:59:58Z: ...".
std::string ForwardingSentence(const host::ForwardingState& state);
// What is said when no destination is forwarded to.
inline constexpr char kNotForwarded[] =
    "Audit records are not forwarded: the console serves without --audit-syslog or --audit-journal.";

// True for a UTC time or the start of one that compares with the records'
// ISO-8601 times as text: YYYY-MM-DD, optionally with THH, :MM and :SS.
bool IsTimeBound(const std::string& text);

// 1234567 as "1,234,567".
std::string WithThousands(std::size_t number);

}  // namespace tessera::console
