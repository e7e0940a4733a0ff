// tessera-console render: one request through the plug-in's exports, the response
// written to standard output byte for byte.
#include "commands.h"
#include "console_context.h"
#include "hosted_pages.h"
#include "page_request.h"
#include "plugin_module.h"

#include "cgi_request.h"
#include "os_string.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#  include <fcntl.h>
#  include <io.h>
#endif

namespace tessera::console {
namespace {

constexpr std::uintmax_t kDefaultMaxUploadBytes = 16u << 20;

struct RenderOptions {
    CommonOptions common;
    std::string page_id;
    std::vector<std::string> fields;       // NAME=VALUE
    std::vector<std::string> field_files;  // NAME=PATH
    std::string base_url = "/";
    std::uintmax_t max_upload_bytes = kDefaultMaxUploadBytes;
};

// NAME=VALUE split at the first '='; the validator below guarantees one exists.
std::pair<std::string, std::string> SplitAssignment(const std::string& assignment) {
    const std::size_t equals = assignment.find('=');
    return {assignment.substr(0, equals), assignment.substr(equals + 1)};
}

const CLI::Validator kAssignment(
    [](std::string& value) -> std::string {
        const std::size_t equals = value.find('=');
        return equals == std::string::npos || equals == 0 ? "expected NAME=VALUE, got \"" + value + "\"" : "";
    },
    "", "assignment");

// The request as the command line describes it: --field and --field-file values
// in the order they were given, interleaved.
void FillRequest(const CLI::App& command, const RenderOptions& options, CCGIRequestData& request) {
    request.SetPageID(OS::FromUtf8(options.page_id));
    request.SetBaseURL(OS::FromUtf8(options.base_url));

    const CLI::Option* field_option = command.get_option("--field");
    const CLI::Option* file_option = command.get_option("--field-file");
    std::size_t next_field = 0;
    std::size_t next_file = 0;
    // Each occurrence of either option takes exactly one value, so the parse
    // order lists one entry per value.
    for (const CLI::Option* option : command.parse_order()) {
        if (option == field_option) {
            const auto [name, value] = SplitAssignment(options.fields.at(next_field++));
            request.AddField(OS::FromUtf8(name), OS::FromUtf8(value));
        } else if (option == file_option) {
            const auto [name, path] = SplitAssignment(options.field_files.at(next_file++));
            const std::string bytes = ReadInputFile(std::filesystem::u8path(path), options.max_upload_bytes);
            request.AddField(OS::FromUtf8(name), OS::DecodeTextFile(bytes));
        }
    }
}

bool WriteToStandardOutput(const char* bytes, std::size_t length) {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return std::fwrite(bytes, 1, length, stdout) == length && std::fflush(stdout) == 0;
}

void RunRender(const CLI::App& command, const RenderOptions& options) {
    CCGIRequestData request;
    FillRequest(command, options, request);
    const auto store = PrepareHost(options.common);
    const PluginModule plugin(ResolvePluginPath(options.common));
    const PluginSession session(plugin);

    const PageAnswer answer = AnswerThroughPlugin(plugin, *store, request, {kCommandLineChannel, {}});
    if (!answer.outcome.is_stored) {
        // The page went out as the store holds it; the plug-in logged the failed writes.
        std::cerr << "tessera-console: the change was not stored: " << answer.outcome.refusal << "\n";
    }
    if (!answer.response) {
        throw CommandError(kExitFailure, "the plug-in made no page for \"" + options.page_id + "\"");
    }
    if (!WriteToStandardOutput(answer.response.get(), std::strlen(answer.response.get()))) {
        throw CommandError(kExitFailure, "cannot write the page to standard output");
    }
    if (!answer.read_failure.empty()) {
        throw CommandError(kExitFailure, "the page does not show what is stored: " + answer.read_failure);
    }
}

}  // namespace

void AddRenderCommand(CLI::App& app) {
    CLI::App* command =
        app.add_subcommand("render",
                           "Send one request to the plug-in and write its response (header block, then page) to "
                           "standard output");
    auto options = std::make_shared<RenderOptions>();
    AddCommonOptions(*command, options->common, true);
    command->add_option("--page", options->page_id, "Page ID, such as " + OS::ToUtf8(kSettingsPageId))
        ->required()
        ->type_name("ID");
    command->add_option("--field", options->fields, "Posted field NAME=VALUE; repeatable, kept in order")
        ->check(kAssignment)
        ->allow_extra_args(false)
        ->type_name("NAME=VALUE");
    command
        ->add_option("--field-file", options->field_files,
                     "Posted field NAME whose value is the text of the file PATH (UTF-8, or UTF-16 with a byte "
                     "order mark); repeatable, kept in order with --field")
        ->check(kAssignment)
        ->allow_extra_args(false)
        ->type_name("NAME=PATH");
    command->add_option("--base-url", options->base_url, "Base URL of the console's pages")
        ->capture_default_str()
        ->type_name("URL");
    command->add_option("--max-upload", options->max_upload_bytes, "Largest --field-file accepted, in bytes")
        ->capture_default_str()
        ->type_name("BYTES");
    command->callback([command, options] { RunRender(*command, *options); });
}

}  // namespace tessera::console
