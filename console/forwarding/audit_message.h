// An audit record as the collectors receive it: an RFC 5424 syslog message,
// framed by its length (RFC 6587 over TCP, RFC 5425 over TLS), and the same
// facts as the journal's fields.
#pragma once

#include "console_store.h"

#include <string>
#include <utility>
#include <vector>

namespace tessera::console {

// The structured data element of every message; 32473 is the enterprise
// number RFC 5612 sets aside for examples and documentation.
inline constexpr char kStructuredDataId[] = "tessera@32473";
inline constexpr char kSyslogAppName[] = "tessera-console";
inline constexpr int kAuthprivFacility = 10;

// Who sent the messages: the machine's name and the console's process id.
struct MessageOrigin {
    std::string host_name;
    std::string process_id;
};
MessageOrigin ThisConsole();

// RFC 5424's severity: 4 (warning) for a failed sign-in and for a change that
// was rolled back, 5 (notice) for a change, 6 (informational) for the rest.
int SyslogSeverity(const host::AuditRecord& record);

// The record in words: who, from where, through which channel, what was done
// and what it changed ("admin from 10.0.0.5 in the browser: ... Changed:
// Security level High -> Low.").
std::string MessageText(const host::OutboxRecord& outbox);

// The facts each message carries beside its text, by their parameter names:
// seq, chain, user, address, channel, token (for the API), action, changed
// (when the action changed something), rolled-back (why it was not stored).
std::vector<std::pair<std::string, std::string>> RecordFacts(const host::OutboxRecord& outbox);

// The RFC 5424 message, its text cut (at a character, with "...") so that
// the whole stays within 8 KiB, the size rsyslog takes by default.
std::string SyslogMessage(const host::OutboxRecord& outbox, const MessageOrigin& origin);

// "LENGTH SP MESSAGE": octet counting, the framing of RFC 6587 and RFC 5425.
std::string OctetCounted(const std::string& message);

}  // namespace tessera::console
