// tessera-console audit: the audit records, oldest first, as a table or as JSON lines.
#include "change_words.h"
#include "commands.h"
#include "console_context.h"
#include "decimal_text.h"

#include "console_store.h"
#include "mgmt_store.h"
#include "os_string.h"
#include "text_util.h"

#include <CLI/CLI.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessera::console {
namespace {

struct AuditOptions {
    CommonOptions common;
    bool is_json = false;
    host::HistoryQuery query;
};

std::string JsonText(const std::string& utf8) {
    return nlohmann::json(utf8).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Stored texts come from requests: control characters (C0, DEL and C1) are shown
// as escapes so that a record stays on its line and cannot drive the terminal.
std::string Printable(const std::wstring& text) {
    std::wstring shown;
    for (const wchar_t c : text) {
        if (host::IsControlCharacter(static_cast<char32_t>(c))) {
            host::AppendControlEscape(shown, static_cast<unsigned char>(c));
        } else {
            shown += c;
        }
    }
    return OS::ToUtf8(shown);
}

// Width on screen, counting each UTF-8 sequence as one column.
std::size_t Columns(const std::string& utf8) {
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void PrintJsonLines(const std::vector<host::AuditRecord>& records) {
    for (const host::AuditRecord& record : records) {
        std::cout << "{\"seq\": " << record.seq << ", \"time\": " << JsonText(record.time)
                  << ", \"action\": " << JsonText(record.action) << ", \"context\": ["
                  << JsonText(OS::ToUtf8(record.context[0])) << ", " << JsonText(OS::ToUtf8(record.context[1])) << ", "
                  << JsonText(OS::ToUtf8(record.context[2])) << "], \"event_type\": " << record.event_type
                  << ", \"event\": " << JsonText(EventTypeName(record.event_type))
                  << ", \"source_type\": " << record.source_type
                  << ", \"source\": " << JsonText(SourceTypeName(record.source_type))
                  << ", \"message\": " << JsonText(OS::ToUtf8(record.message));
        if (!record.channel.empty()) std::cout << ", \"channel\": " << JsonText(record.channel);
        if (!record.token.empty()) std::cout << ", \"token\": " << JsonText(record.token);
        if (!record.rolled_back.empty()) std::cout << ", \"rolled_back\": " << JsonText(record.rolled_back);
        std::cout << "}\n";
    }
}

void PrintTable(const std::vector<host::AuditRecord>& records) {
    if (records.empty()) {
        std::cout << "no audit records\n";
        return;
    }
    using Row = std::array<std::string, 9>;
    std::vector<Row> rows{{"SEQ", "TIME", "ACTION", "USER", "CLIENT", "PAGE", "EVENT", "SOURCE", "MESSAGE"}};
    for (const host::AuditRecord& record : records) {
        // Seq 0: kept aside while the store refused writes; stored by the next change.
        rows.push_back({record.seq == 0 ? std::string("pending") : std::to_string(record.seq), record.time,
                        record.action.empty() ? "-" : record.action, Printable(record.context[0]),
                        Printable(record.context[1]), Printable(record.context[2]), EventTypeName(record.event_type),
                        SourceTypeName(record.source_type),
                        Printable(record.message) + (record.rolled_back.empty()
                                                         ? std::string()
                                                         : " [rolled back, not stored: " + record.rolled_back + "]")});
    }
    std::array<std::size_t, 9> widths{};
    for (const Row& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], Columns(row[column]));
        }
    }
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            if (column + 1 < row.size()) {
                line.append(widths[column] - Columns(row[column]) + 2, ' ');
            }
        }
        std::cout << line << '\n';
    }
}

void RunAudit(const AuditOptions& options) {
    const std::shared_ptr<host::ConsoleStore> store = PrepareHost(options.common, DataFolderUse::kReadExisting);
    std::vector<host::AuditRecord> records;
    for (host::HistoryRecord& entry : store->ReadHistory(options.query)) records.push_back(std::move(entry.record));
    std::reverse(records.begin(), records.end());  // oldest first
    if (options.is_json) {
        PrintJsonLines(records);
    } else {
        PrintTable(records);
    }
}

constexpr std::size_t kChainValueLength = 64;

// A head as `audit head` prints it: SEQ:VALUE.
std::optional<std::pair<std::int64_t, std::string>> HeadOf(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const std::optional<std::int64_t> seq = DecimalOf(std::string_view(text).substr(0, colon));
    std::string value = host::FoldAsciiCase(text.substr(colon + 1));
    const bool is_hex =
        value.size() == kChainValueLength && value.find_first_not_of("0123456789abcdef") == std::string::npos;
    if (!seq || *seq == 0 || !is_hex) return std::nullopt;
    return std::pair{*seq, std::move(value)};
}

std::string CheckHead(const std::string& text) {
    return HeadOf(text) ? std::string() : "SEQ:VALUE as `audit head` prints it, not " + text;
}

void RunVerify(const CommonOptions& common, const std::string& head) {
    const std::shared_ptr<host::ConsoleStore> store = PrepareHost(common, DataFolderUse::kReadExisting);
    const auto started = std::chrono::steady_clock::now();
    const host::AuditChainCheck check = store->VerifyAuditChain(head.empty() ? std::nullopt : HeadOf(head));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    if (check.broken_at) {
        throw CommandError(kExitFailure, "the audit chain breaks at record " + std::to_string(*check.broken_at) + ": " +
                                             check.problem);
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", took.count());
    std::cout << "the audit chain is whole: " << check.records << " records";
    if (check.records != 0) std::cout << ", the latest " << check.head_seq << ':' << check.head_chain;
    if (!head.empty()) std::cout << ", the kept head among them";
    std::cout << "; checked in " << seconds << " s\n";
}

void RunHead(const CommonOptions& common) {
    const std::shared_ptr<host::ConsoleStore> store = PrepareHost(common, DataFolderUse::kReadExisting);
    const auto [seq, chain] = store->ReadAuditHead();
    if (seq == 0) throw CommandError(kExitFailure, "there are no audit records yet");
    std::cout << seq << ':' << chain << '\n';
}

void RunForwarding(const CommonOptions& common) {
    const std::shared_ptr<host::ConsoleStore> store = PrepareHost(common, DataFolderUse::kReadExisting);
    const std::vector<host::ForwardingState> states = store->ReadForwarding();
    if (states.empty()) std::cout << kNotForwarded << '\n';
    for (const host::ForwardingState& state : states) std::cout << ForwardingSentence(state) << '\n';
}

std::string CheckTime(const std::string& text) {
    return IsTimeBound(text) ? std::string() : "a UTC time as YYYY-MM-DD[THH[:MM[:SS]]], not " + text;
}

}  // namespace

void AddAuditCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("audit", "Show the audit records, oldest first");
    auto options = std::make_shared<AuditOptions>();
    AddCommonOptions(*command, options->common, false);
    command->add_flag("--json", options->is_json,
                      "One JSON object per line: seq (0 for a record not yet stored), time, action, context (user, "
                      "client address, page ID), event_type and its name event, source_type and its name source, "
                      "message, channel (browser, api, command line) and token (the API token's name) when known, and "
                      "rolled_back (why the change the record reports was rolled back and never stored) on a "
                      "record whose action was rolled back");
    command->add_option("--since", options->query.since, "Records from this UTC time on (2026-12-01, 2026-12-01T08:30)")
        ->check(CheckTime)
        ->type_name("TIME");
    command
        ->add_option("--until", options->query.until,
                     "Records up to the end of this UTC time (2026-12-01: that whole day)")
        ->check(CheckTime)
        ->type_name("TIME");
    command->add_option("--action", options->query.action, "Records of this action only")
        ->check(CLI::IsMember(ActionNames()))
        ->type_name("ACTION");
    command->add_option("--limit", options->query.limit, "The newest this many records only")
        ->check(CLI::PositiveNumber)
        ->type_name("N");

    CLI::App* verify = command->add_subcommand(
        "verify", "Walk the audit records' chain: exit 0 when it is whole, else name the first record that breaks it");
    auto head = std::make_shared<std::string>();
    verify
        ->add_option("--head", *head,
                     "A head kept earlier (SEQ:VALUE from `audit head`): that record must be there with that value")
        ->check(CheckHead)
        ->type_name("SEQ:VALUE");
    verify->callback([options, head] { RunVerify(options->common, *head); });
    CLI::App* head_command =
        command->add_subcommand("head", "Print the latest record's SEQ:VALUE, for an auditor to keep elsewhere");
    head_command->callback([options] { RunHead(options->common); });
    CLI::App* forwarding = command->add_subcommand(
        "forwarding", "Say how far forwarding to each syslog collector and the journal has got, and its last error");
    forwarding->callback([options] { RunForwarding(options->common); });
    // `audit verify --data DIR` as well as `audit --data DIR verify`.
    for (CLI::App* subcommand : {verify, head_command, forwarding}) subcommand->fallthrough();
    command->require_subcommand(0, 1);
    command->callback([options, command] {
        if (command->get_subcommands().empty()) RunAudit(*options);
    });
}

}  // namespace tessera::console
