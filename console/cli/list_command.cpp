// tessera-console list: the approved list as a plain text file, out through
// the plug-in's own export and in through its own save, each audited. The
// console reads the settings page as a browser would, so the save carries
// every other setting unchanged and the plug-in's rules decide what is kept.
#include "change_words.h"
#include "commands.h"
#include "console_context.h"
#include "hosted_pages.h"
#include "list_file.h"
#include "list_options.h"
#include "page_request.h"
#include "plugin_module.h"

#include "cgi_request.h"
#include "os_string.h"
#include "response_frame.h"
#include "text_util.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessera::console {
namespace {

// A list file of a million entries is about 35 MB.
constexpr std::uintmax_t kMaxListFileBytes = 256u << 20;

struct ListOptions {
    CommonOptions common;
    std::string file;
    bool is_replace = false;
};

using Fields = std::vector<std::pair<std::wstring, std::wstring>>;

std::wstring Unescaped(const std::wstring& markup) {
    std::wstring text;
    text.reserve(markup.size());
    host::AppendUnescapedMarkup<wchar_t>(text, markup);
    return text;
}

// The value of attribute `name` in the tag text `tag`, read attribute by
// attribute as the pages write them (values in double quotes, whose own
// quotes are escaped); "" for one without a value, nullopt when absent.
std::optional<std::wstring> Attribute(const std::wstring& tag, const std::wstring& name) {
    std::size_t at = tag.find(L' ');
    while (at != std::wstring::npos && at < tag.size()) {
        at = tag.find_first_not_of(L" \n", at);
        if (at == std::wstring::npos || tag[at] == L'>') break;
        const std::size_t name_end = tag.find_first_of(L"= \n>", at);
        const std::wstring attribute = tag.substr(at, name_end - at);
        std::optional<std::wstring> value = std::wstring();
        at = name_end;
        if (at != std::wstring::npos && tag.compare(at, 2, L"=\"") == 0) {
            const std::size_t value_end = tag.find(L'"', at + 2);
            if (value_end == std::wstring::npos) return std::nullopt;
            value = Unescaped(tag.substr(at + 2, value_end - at - 2));
            at = value_end + 1;
        }
        if (attribute == name) return value;
    }
    return std::nullopt;
}

// What the settings form would post with every list entry selected, in page order.
Fields FormOf(const std::wstring& page) {
    const std::size_t start = page.find(L"<form id=\"settingsForm\"");
    const std::size_t end = page.find(L"</form>", start);
    if (start == std::wstring::npos || end == std::wstring::npos) {
        throw CommandError(kExitFailure, "the settings page holds no settings form");
    }
    Fields fields;
    const std::optional<ListBlock> list = FindListBlock<wchar_t>(page);
    for (std::size_t at = page.find(L'<', start + 1); at < end; at = page.find(L'<', at + 1)) {
        if (list && at == list->begin) {
            ForEachListEntry<wchar_t>(
                std::wstring_view(page).substr(at, list->end - at),
                [&fields](const std::wstring& entry) { fields.emplace_back(kApprovedListField, entry); });
            at = list->end - 1;
            continue;
        }
        const std::size_t tag_end = page.find(L'>', at);
        const std::wstring tag = page.substr(at, tag_end - at + 1);
        const std::optional<std::wstring> name = Attribute(tag, L"name");
        if (tag.rfind(L"<input ", 0) == 0 && name) {
            const std::wstring type = Attribute(tag, L"type").value_or(L"text");
            if ((type == L"checkbox" || type == L"radio") && !Attribute(tag, L"checked")) continue;
            fields.emplace_back(*name, Attribute(tag, L"value").value_or(type == L"checkbox" ? L"on" : L""));
        } else if (tag.rfind(L"<textarea ", 0) == 0 && name) {
            std::size_t text_start = tag_end + 1;
            if (text_start < page.size() && page[text_start] == L'\n') ++text_start;  // as browsers drop it
            const std::size_t text_end = page.find(L"</textarea>", text_start);
            fields.emplace_back(*name, Unescaped(page.substr(text_start, text_end - text_start)));
        }
    }
    return fields;
}

std::vector<std::wstring> ListOf(const Fields& form) {
    std::vector<std::wstring> entries;
    for (const auto& [name, value] : form) {
        if (name == kApprovedListField) entries.push_back(value);
    }
    return entries;
}

// One request through the plug-in; its page, header block cut off.
std::wstring Answer(const PluginModule& plugin, host::ConsoleStore& store, const CCGIRequestData& request,
                    host::ActionOutcome* outcome = nullptr, const DeliverInsideAction& deliver = {}) {
    const PageAnswer answer = AnswerThroughPlugin(plugin, store, request, {kCommandLineChannel, {}}, deliver);
    if (outcome != nullptr) *outcome = answer.outcome;
    const std::optional<ResponseFrame> frame =
        answer.response ? ParseResponseFrame(answer.response.get()) : std::nullopt;
    if (!frame) throw CommandError(kExitFailure, "the plug-in made no page for " + OS::ToUtf8(request.GetPageID()));
    return OS::FromUtf8(std::string(frame->body.data(), frame->body.size()));
}

Fields SettingsForm(const PluginModule& plugin, host::ConsoleStore& store) {
    CCGIRequestData request;
    request.SetPageID(kSettingsPageId);
    request.SetBaseURL(L"/");
    return FormOf(Answer(plugin, store, request));
}

void RunExport(const ListOptions& options) {
    const auto store = PrepareHost(options.common, DataFolderUse::kReadExisting);
    const PluginModule plugin(ResolvePluginPath(options.common));
    const PluginSession session(plugin);
    const std::vector<std::wstring> entries = ListOf(SettingsForm(plugin, *store));

    std::wstring joined;
    for (const std::wstring& entry : entries) joined += entry + L";";
    CCGIRequestData request;
    request.SetPageID(kExportPageId);
    request.SetBaseURL(L"/");
    request.AddField(kExportListField, joined);
    // Written inside the export's action: an export that cannot be written is not audited as one.
    std::optional<std::string> write_failure;
    const auto write_file = [&options, &write_failure](const char* response) {
        const std::optional<ResponseFrame> frame = response ? ParseResponseFrame(response) : std::nullopt;
        if (!frame) return;  // no page: Answer reports it
        const std::string_view file = frame->body;
        if (options.file == "-") {
            if (std::fwrite(file.data(), 1, file.size(), stdout) != file.size() || std::fflush(stdout) != 0) {
                write_failure = "cannot write the list to standard output";
                throw host::AbandonedAction(*write_failure);
            }
            return;
        }
        std::ofstream out(std::filesystem::u8path(options.file), std::ios::binary | std::ios::trunc);
        if (!out.write(file.data(), static_cast<std::streamsize>(file.size())) || !out.flush()) {
            write_failure = "cannot write " + options.file;
            throw host::AbandonedAction(*write_failure);
        }
    };
    Answer(plugin, *store, request, nullptr, write_file);
    if (write_failure) throw CommandError(kExitFailure, *write_failure + "; nothing was exported, and none is audited");
    if (options.file == "-") return;
    std::cout << "exported " << WithThousands(entries.size()) << (entries.size() == 1 ? " entry" : " entries") << " to "
              << options.file << '\n';
}

void RunImport(const ListOptions& options) {
    const std::vector<std::wstring> imported =
        EntriesOfListFile(ReadInputFile(std::filesystem::u8path(options.file), kMaxListFileBytes));
    const auto store = PrepareHost(options.common);
    const PluginModule plugin(ResolvePluginPath(options.common));
    const PluginSession session(plugin);

    CCGIRequestData request;
    request.SetPageID(kSettingsPageId);
    request.SetBaseURL(L"/");
    request.AddField(kFormActionField, L"save");
    for (const auto& [name, value] : SettingsForm(plugin, *store)) {
        if (!(options.is_replace && name == kApprovedListField)) request.AddField(name, value);
    }
    for (const std::wstring& entry : imported) request.AddField(kApprovedListField, entry);
    host::ActionOutcome outcome;
    const std::size_t listed = ListOf(FormOf(Answer(plugin, *store, request, &outcome))).size();
    if (!outcome.is_stored) throw CommandError(kExitFailure, "nothing was stored: " + outcome.refusal);
    std::cout << "read " << WithThousands(imported.size()) << (imported.size() == 1 ? " entry" : " entries") << " from "
              << options.file << "; saved: " << ChangeSentence(outcome.changes_summary) << "; the list holds "
              << WithThousands(listed) << (listed == 1 ? " entry" : " entries") << '\n';
}

}  // namespace

void AddListCommand(CLI::App& app) {
    CLI::App* list = app.add_subcommand("list", "Move the approved list as a plain text file, one entry a line");
    list->require_subcommand(1);
    auto options = std::make_shared<ListOptions>();

    CLI::App* out = list->add_subcommand("export",
                                         "Write the approved list to FILE through the plug-in's export "
                                         "(audited as an export)");
    AddCommonOptions(*out, options->common, true);
    out->add_option("FILE", options->file, "The file to write; - for standard output")->required();
    out->callback([options] { RunExport(*options); });

    CLI::App* in = list->add_subcommand(
        "import",
        "Add the entries of FILE (UTF-8, or UTF-16 with a byte order mark) to the approved list through "
        "the plug-in's save (audited as a save of the instant message policy, whose other settings stay)");
    AddCommonOptions(*in, options->common, true);
    in->add_option("FILE", options->file, "The list file")->required();
    in->add_flag("--replace", options->is_replace, "Make the list the file's entries alone");
    in->callback([options] { RunImport(*options); });
}

}  // namespace tessera::console
