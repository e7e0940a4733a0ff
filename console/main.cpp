// tessera-console: renders the plug-in's pages from the command line, administers
// the store and the audit log, and serves the web console.
#include "commands.h"
#include "memory_reuse.h"
#include "serve_command.h"

#include <CLI/CLI.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Every failure is reported on one line, whatever the message holds.
void ReportError(std::string message) {
    std::replace_if(
        message.begin(), message.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    std::cerr << "tessera-console: " << message << '\n';
}

// CLI11 reports a word that names no subcommand as a missing subcommand; name it.
std::string UsageMessage(const CLI::App& app, const CLI::ParseError& error) {
    const CLI::App* deepest = &app;
    while (!deepest->get_subcommands().empty()) deepest = deepest->get_subcommands().front();
    const std::vector<std::string> words = deepest->remaining();
    std::string names;
    for (const CLI::App* command : deepest->get_subcommands([](const CLI::App*) { return true; })) {
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    if (words.empty() || names.empty()) return std::string(error.what()) + " (see --help)";
    return "unknown command \"" + words.front() + "\"; the commands are " + names + " (see --help)";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tessera::console;
    tessera::console::KeepFreedMemoryForReuse();
    // The store holds the audit records, the logs hold what was posted: all of
    // the console's files are its owner's alone.
    ::umask(S_IRWXG | S_IRWXO);

    CLI::App app{
        "The Tessera web administration console: renders the URL filter pages, administers the "
        "management store and the audit log, and serves the console over HTTP.",
        "tessera-console"};
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 success, 1 failure, 2 usage error.\n"
        "Environment: TESSERA_RESOURCE_DIR overrides the folder of classes.json, provision.json and "
        "texts.json; TESSERA_STORE_BUSY_MS the store's busy timeout.");
    AddRenderCommand(app);
    AddStoreCommand(app);
    AddAuditCommand(app);
    AddListCommand(app);
    AddServeCommand(app);
    AddUserCommand(app);
    AddTokenCommand(app);

    try {
        app.parse(argc, argv);
        // What a command wrote is only done once it is out: a full disk or a
        // closed pipe is a failure, not a success with the output lost.
        if (!(std::cout.flush()) || std::fflush(stdout) != 0) {
            ReportError("cannot write to standard output");
            return kExitFailure;
        }
        return kExitSuccess;
    } catch (const CLI::Success& request) {  // --help
        return app.exit(request);
    } catch (const CLI::RuntimeError& stop) {  // a command that reported its own failure
        return stop.get_exit_code();
    } catch (const CLI::ParseError& error) {
        ReportError(UsageMessage(app, error));
        return kExitUsage;
    } catch (const CommandError& error) {
        ReportError(error.what());
        return error.Status();
    } catch (const std::exception& error) {
        ReportError(error.what());
        return kExitFailure;
    } catch (...) {
        ReportError("unexpected failure");
        return kExitFailure;
    }
}
