// The table of the plug-in's pages that the console hosts.
#include "hosted_pages.h"
#include "text_util.h"

#include <nlohmann/json.hpp>

namespace tessera::console {
namespace {

const HostedPage kHostedPages[] = {
    {kSettingsPageId, "", false},
    {kImportPageId, "import", false},
    {kExportPageId, "export", true},
};

}  // namespace

const HostedPage* FindHostedPage(const OS::x_wstring& page_id) {
    for (const HostedPage& page : kHostedPages) {
        if (page_id.CompareNoCase(page.page_id) == 0) return &page;
    }
    return nullptr;
}

bool IsActionPage(const OS::x_wstring& page_id) {
    const HostedPage* page = FindHostedPage(page_id);
    return page != nullptr && *page->action_name != '\0';
}

const std::string& FoldedFormActionField() {
    static const std::string folded = host::FoldAsciiCase(std::string(OS::ToUtf8(kFormActionField)));
    return folded;
}

std::string PagePath(const wchar_t* page_id) { return "/" + OS::ToUtf8(page_id); }

const std::string& PageNamesModule() {
    static const std::string module = [] {
        nlohmann::json policies = nlohmann::json::array();
        for (const HostedPolicy& policy : kHostedPolicies) policies.push_back(policy.instance);
        const auto exported = [](const char* name, const nlohmann::json& value) {
            return "export const " + std::string(name) + " = " + value.dump() + ";\n";
        };
        return "// The console's names of the settings form's fields and of its policies.\n" +
               exported("POLICY_FIELD", OS::ToUtf8(kPolicyField)) +
               exported("LIST_FIELD", OS::ToUtf8(kApprovedListField)) +
               exported("VERSION_FIELD", OS::ToUtf8(kVersionField)) + exported("POLICIES", policies);
    }();
    return module;
}

}  // namespace tessera::console
