// tessera-console store: dump, load and delete instances of the management store
// in its JSON form.
#include "commands.h"
#include "console_context.h"

#include "console_store.h"
#include "mgmt_store.h"
#include "os_string.h"
#include "store_json.h"

#include <CLI/CLI.hpp>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessera::console {
namespace {

// A whole provisioned store dumps to a few kilobytes; this only stops runaway input.
constexpr std::uintmax_t kMaxStoreFileBytes = 64u << 20;

struct StoreOptions {
    CommonOptions common;
    std::string class_name;
    std::string instance_name;
    std::string file;
    std::string copy_to;
};

void RunDump(const StoreOptions& options) {
    const std::shared_ptr<host::ConsoleStore> store = PrepareHost(options.common, DataFolderUse::kReadExisting);
    std::optional<std::wstring> class_filter;
    std::optional<std::wstring> instance_filter;
    if (!options.class_name.empty()) {
        class_filter = OS::FromUtf8(options.class_name);
    }
    if (!options.instance_name.empty()) {
        instance_filter = OS::FromUtf8(options.instance_name);
    }
    const std::vector<host::StoredInstance> instances =
        store->List(class_filter ? &*class_filter : nullptr, instance_filter ? &*instance_filter : nullptr);
    if (instances.empty() && class_filter) {
        throw CommandError(kExitFailure, instance_filter
                                             ? "no instance " + options.class_name + "/" + options.instance_name
                                             : "no instance of class " + options.class_name);
    }
    std::cout << host::InstancesToJson(instances).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

// nlohmann's messages start with an internal tag such as "[json.exception.parse_error.101] ".
std::string WithoutExceptionTag(const std::string& message) {
    const std::size_t tag_end = message.find("] ");
    const bool is_tagged = message.rfind("[json.exception.", 0) == 0 && tag_end != std::string::npos;
    return is_tagged ? message.substr(tag_end + 2) : message;
}

void RunLoad(const StoreOptions& options) {
    const std::filesystem::path file = std::filesystem::u8path(options.file);
    const std::string text = ReadInputFile(file, kMaxStoreFileBytes);
    // Parsed in full before the store is touched, so a malformed file changes nothing.
    std::vector<host::StoredInstance> instances;
    try {
        instances = host::InstancesFromJson(nlohmann::json::parse(text));
    } catch (const nlohmann::json::exception& error) {
        throw CommandError(kExitUsage, options.file + ": " + WithoutExceptionTag(error.what()));
    } catch (const host::StoreFormatError& error) {
        throw CommandError(kExitUsage, options.file + ": " + error.what());
    }
    const std::shared_ptr<host::ConsoleStore> store = PrepareHost(options.common);
    store->Replace(instances);
    std::cout << "loaded " << instances.size() << (instances.size() == 1 ? " instance" : " instances") << " from "
              << options.file << '\n';
}

void RunCheck(const StoreOptions& options) {
    const std::shared_ptr<host::ConsoleStore> store = PrepareHost(options.common, DataFolderUse::kReadExisting);
    const std::vector<std::string> problems = store->CheckIntegrity(true);
    if (!problems.empty()) {
        for (const std::string& problem : problems) std::cout << problem << '\n';
        throw CommandError(kExitFailure, DamagedStoreMessage(*store, problems));
    }
    std::cout << store->Name()
              << (store->Engine() == host::StoreAddress::Engine::kSqlite
                      ? ": whole (SQLite's integrity check found nothing, and every stored object decodes)\n"
                      : ": whole (every stored object decodes)\n");
}

void RunCopy(StoreOptions options) {
    host::StoreAddress destination;
    try {
        destination = host::ParseStoreAddress(options.copy_to, options.common.data_dir);
    } catch (const std::invalid_argument& error) {
        throw CommandError(kExitUsage, error.what());
    }
    const std::shared_ptr<host::ConsoleStore> store = PrepareHost(options.common, DataFolderUse::kReadExisting);
    host::StoreCopy copy;
    try {
        copy = store->CopyInto(destination);
    } catch (const std::runtime_error& error) {
        throw CommandError(kExitFailure, error.what());
    }
    std::cout << "copied " << store->Name() << " into " << host::StoreName(destination) << ":";
    const char* separator = " ";
    for (const auto& [table, rows] : copy.rows) {
        std::cout << separator << table << ' ' << rows;
        separator = ", ";
    }
    std::cout << '\n';
}

void RunDelete(const StoreOptions& options) {
    const std::shared_ptr<host::ConsoleStore> store = PrepareHost(options.common, DataFolderUse::kReadExisting);
    if (!store->Delete(OS::FromUtf8(options.class_name), OS::FromUtf8(options.instance_name))) {
        throw CommandError(kExitFailure, "no instance " + options.class_name + "/" + options.instance_name);
    }
    std::cout << "deleted " << options.class_name << '/' << options.instance_name << '\n';
}

}  // namespace

void AddStoreCommand(CLI::App& app) {
    CLI::App* store = app.add_subcommand("store", "Administer the management store (JSON form)");
    store->require_subcommand(1);
    auto options = std::make_shared<StoreOptions>();

    CLI::App* dump = store->add_subcommand("dump", "Write instances as JSON to standard output");
    AddCommonOptions(*dump, options->common, false);
    dump->add_option("CLASS", options->class_name, "Only instances of this class");
    dump->add_option("INSTANCE", options->instance_name, "Only this instance of CLASS");
    dump->callback([options] { RunDump(*options); });

    CLI::App* load = store->add_subcommand(
        "load", "Create or replace the instances of a JSON file, all or none; a malformed file changes nothing");
    AddCommonOptions(*load, options->common, false);
    load->add_option("FILE", options->file, "JSON file, as store dump writes it")->required();
    load->callback([options] { RunLoad(*options); });

    CLI::App* check = store->add_subcommand(
        "check",
        "Check the store for damage (SQLite's integrity check, and every object decoded); exit status 1 when "
        "it finds any");
    AddCommonOptions(*check, options->common, false);
    check->callback([options] { RunCheck(*options); });

    CLI::App* copy = store->add_subcommand(
        "copy",
        "Copy the whole store (objects, audit records and their chain, History, accounts, tokens) into an "
        "empty one, as one transaction; a store that holds anything is refused");
    AddCommonOptions(*copy, options->common, false);
    copy->get_option("--store")->description("The store to copy (sqlite:PATH or postgresql://...)");
    copy->add_option("--from", options->common.store_url, "The store to copy; the same as --store");
    copy->add_option("--to", options->copy_to, "The empty store to copy into: postgresql://... or sqlite:PATH")
        ->required()
        ->type_name("URL");
    copy->callback([options] { RunCopy(*options); });

    CLI::App* remove = store->add_subcommand("delete", "Delete one instance");
    AddCommonOptions(*remove, options->common, false);
    remove->add_option("CLASS", options->class_name, "Class name")->required();
    remove->add_option("INSTANCE", options->instance_name, "Instance name")->required();
    remove->callback([options] { RunDelete(*options); });
}

}  // namespace tessera::console
