// The plug-in test harness.
#include "plugin_harness.h"

#include "cgi_request.h"
#include "host_config.h"
#include "mgmt_object.h"
#if defined(_WIN32)
#  include "memory_store.h"
#else
#  include "console_store.h"
#endif
#include "store_json.h"
#include "test_paths.h"

#include <fstream>
#include <sstream>

namespace tessera::test {
namespace fs = std::filesystem;

std::string Response::Body() const {
    const std::size_t end = bytes.find("\n\n");
    return end == std::string::npos ? std::string() : bytes.substr(end + 2);
}

std::string Response::Header() const {
    const std::size_t end = bytes.find("\n\n");
    return end == std::string::npos ? bytes : bytes.substr(0, end + 2);
}

namespace {

// The store the plug-in meets: the console's SQLite store, provisioned from
// the project's data files; on Windows, where the console and its store are
// not built, the in-memory store, provisioned from the same files.
std::shared_ptr<host::StoreBackend> ProvisionedStore([[maybe_unused]] const fs::path& data_dir) {
#if defined(_WIN32)
    const auto read_json = [](const fs::path& file) {
        std::ifstream stream(file, std::ios::binary);
        return nlohmann::json::parse(stream);
    };
    auto store =
        std::make_shared<host::MemoryStore>(host::DeclarationsFromJson(read_json(ResourceDir() / "classes.json")));
    store->Replace(host::InstancesFromJson(read_json(ResourceDir() / "provision.json")));
    return store;
#else
    return host::ConsoleStore::Open(data_dir / "store.db", ResourceDir());
#endif
}

}  // namespace

PluginHarness::PluginHarness(fs::path web_root) {
    host::Configure({data_dir_, web_root.empty() ? SourceDir() : web_root, ResourceDir()});
    store_ = std::make_shared<host::FailingStore>(ProvisionedStore(data_dir_));
    host::SetCurrentStore(store_);
    module_ = std::make_unique<console::PluginModule>(PluginPath());
    module_->Initialize();
}

PluginHarness::~PluginHarness() {
    module_->Deinitialize();
    module_.reset();
    host::SetCurrentStore(nullptr);
}

Response PluginHarness::Render(const std::wstring& page_id, const Fields& fields, const std::wstring& user,
                               const std::wstring& client_address) {
    CCGIRequestData request;
    request.SetPageID(page_id);
    request.SetBaseURL(L"/console/");
    request.SetSignedInUser(user);
    request.SetClientAddress(client_address);
    for (const auto& [name, value] : fields) {
        request.AddField(name, value);
    }
    Response response;
    char* output = nullptr;
    response.result = module_->UIRequest(&request, &output);
    if (output != nullptr) {
        response.bytes = output;
        module_->Free(output);
    }
    return response;
}

std::vector<std::string> PluginHarness::DebugRecords() const { return DebugRecordsFrom(0); }

std::vector<std::string> PluginHarness::DebugRecordsFrom(std::size_t first) const {
    std::istringstream lines(ReadWholeFile(data_dir_ / "debug.log"));
    std::vector<std::string> records;
    std::string line;
    for (std::size_t index = 0; std::getline(lines, line); ++index) {
        if (index >= first) {
            const std::size_t after_time = line.find(' ');
            records.push_back(after_time == std::string::npos ? line : line.substr(after_time + 1));
        }
    }
    return records;
}

std::optional<_variant_t> PluginHarness::Stored(const std::wstring& class_name, const std::wstring& instance_name,
                                                const std::wstring& property) {
    host::PropertyBag bag;
    if (!store_->Load(class_name, instance_name, bag)) {
        return std::nullopt;
    }
    const _variant_t* value = bag.Find(property);
    return value == nullptr ? std::nullopt : std::optional<_variant_t>(*value);
}

std::optional<_variant_t> PluginHarness::StoredNotification(const std::wstring& instance_name,
                                                            const std::wstring& property) {
    const std::optional<_variant_t> embedded = Stored(L"QZ_UrlFilter", instance_name, L"UFNotificationSettings");
    const host::PropertyBag* bag = embedded ? host::EmbeddedProperties(*embedded) : nullptr;
    const _variant_t* value = bag == nullptr ? nullptr : bag->Find(property);
    return value == nullptr ? std::nullopt : std::optional<_variant_t>(*value);
}

std::vector<std::wstring> PluginHarness::StoredApprovedList(const std::wstring& instance_name) {
    const std::optional<_variant_t> value = Stored(L"QZ_UFApprovedLists", instance_name, L"ApprovedLists");
    const CMgmtBSTRArrayAccessHelper entries(value ? &*value : nullptr);
    std::vector<std::wstring> list;
    for (std::size_t index = 0; index < entries.GetElementsCount(); ++index) {
        list.emplace_back(entries.GetElement(index));
    }
    return list;
}

void PluginHarness::ReplaceInstance(const std::wstring& class_name, const std::wstring& instance_name,
                                    const std::string& json) {
    host::PropertyBag properties = host::PropertiesFromJson(nlohmann::json::parse(json), "test");
    store_->Replace({{class_name, instance_name, std::move(properties)}});
}

fs::path WriteProbeTemplates(const TempFolder& web_root,
                             const std::map<std::wstring, std::vector<std::string>>& templates) {
    const fs::path& root = web_root.path();
    for (const auto& [page_id, placeholders] : templates) {
        const fs::path file = root / "web" / "html" / fs::path(page_id);
        fs::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        for (const std::string& name : placeholders) {
            out << name << "=[$$" << name << "$$]\n";
        }
    }
    return root;
}

std::map<std::string, std::string> ProbeValues(const std::string& body) {
    std::map<std::string, std::string> values;
    std::size_t position = 0;
    while (position < body.size()) {
        const std::size_t equals = body.find("=[", position);
        if (equals == std::string::npos) {
            break;
        }
        const std::size_t close = body.find("]\n", equals);
        // A value may span lines (option lists start with a line feed): it ends at the next "]\n".
        const std::size_t end = close == std::string::npos ? body.size() : close;
        values[body.substr(position, equals - position)] = body.substr(equals + 2, end - equals - 2);
        position = end + 2;
    }
    return values;
}

}  // namespace tessera::test
