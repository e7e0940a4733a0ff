// Loads the real plug-in through its exports, against a SQLite store
// provisioned from the project's data files in a fresh data folder, which also
// holds the debug log. Get and Put fail on demand through Store(). Templates
// are the project's own unless a test writes its own.
#pragma once

#include "failing_store.h"
#include "os_string.h"
#include "plugin_module.h"
#include "temp_folder.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessera::test {

using Fields = std::vector<std::pair<std::wstring, std::wstring>>;

struct Response {
    int result = -1;
    std::string bytes;  // the whole buffer, header block included
    std::string Body() const;
    std::string Header() const;
};

class PluginHarness {
public:
    // `web_root` empty: the project's own templates.
    explicit PluginHarness(std::filesystem::path web_root = {});
    ~PluginHarness();

    Response Render(const std::wstring& page_id, const Fields& fields = {}, const std::wstring& user = L"",
                    const std::wstring& client_address = L"");

    host::FailingStore& Store() { return *store_; }
    console::PluginModule& Module() { return *module_; }
    const std::filesystem::path& DataDir() const { return data_dir_; }

    // The debug log's records without their time stamps: "<level> <source>:<line> <message>".
    std::vector<std::string> DebugRecords() const;
    std::vector<std::string> DebugRecordsFrom(std::size_t first) const;
    std::vector<host::AuditRecord> Audit() { return store_->ReadAudit(); }

    // One stored value, as the store holds it.
    std::optional<_variant_t> Stored(const std::wstring& class_name, const std::wstring& instance_name,
                                     const std::wstring& property);
    std::optional<_variant_t> StoredNotification(const std::wstring& instance_name, const std::wstring& property);
    std::vector<std::wstring> StoredApprovedList(const std::wstring& instance_name = L"UF_APPROVED_LIST");
    // Replaces one instance with these properties, given in the store's JSON form.
    void ReplaceInstance(const std::wstring& class_name, const std::wstring& instance_name, const std::string& json);

private:
    TempFolder data_folder_{"tessera-plugin-test"};
    std::filesystem::path data_dir_ = data_folder_.path();
    std::shared_ptr<host::FailingStore> store_;
    std::unique_ptr<console::PluginModule> module_;
};

// Makes `web_root` hold one template per page ID, each listing the placeholders
// it is given as "NAME=[$$NAME$$]" lines, so a test can read what each got.
// Returns the folder's path.
std::filesystem::path WriteProbeTemplates(const TempFolder& web_root,
                                          const std::map<std::wstring, std::vector<std::string>>& templates);

// The values of a probe page: placeholder name -> value. A placeholder that was
// not written keeps its "$$NAME$$" text.
std::map<std::string, std::string> ProbeValues(const std::string& body);

}  // namespace tessera::test
