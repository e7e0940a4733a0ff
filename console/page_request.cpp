// One request through the plug-in, inside a store transaction when it is an action.
#include "page_request.h"

#include "cgi_request.h"
#include "os_string.h"
#include "sqlite_store.h"
#include "text_util.h"

namespace tessera::console {
namespace {

struct ActionPage {
    const wchar_t* page_id;
    const char* action_name;
};
const ActionPage kActionPages[] = {{L"scan/WebThreatProtection_Import.htm", "import"},
                                   {L"scan/WebThreatProtection_Export.htm", "export"}};

}  // namespace

bool IsActionPage(const OS::x_wstring& page_id) {
    for (const ActionPage& action_page : kActionPages) {
        if (page_id.CompareNoCase(action_page.page_id) == 0) return true;
    }
    return false;
}

std::string ActionName(const CCGIRequestData& request) {
    for (const ActionPage& action_page : kActionPages) {
        if (request.GetPageID().CompareNoCase(action_page.page_id) == 0) return action_page.action_name;
    }
    for (const auto& [name, value] : request.Fields()) {
        if (name.CompareNoCase(L"FormAction") != 0) continue;
        // The name is shown in History and taken by `audit --action`: one of a few words.
        const std::string action = host::FoldAsciiCase(std::string(OS::ToUtf8(value)));
        return action == "save" || action == "reset" ? action : "other";
    }
    return {};
}

namespace {

// The same page, for the same user and policy, without the action.
CCGIRequestData ViewOf(const CCGIRequestData& request) {
    CCGIRequestData view;
    view.SetPageID(request.GetPageID());
    view.SetBaseURL(request.GetBaseURL());
    view.SetSignedInUser(request.GetSignedInUser());
    view.SetClientAddress(request.GetClientAddress());
    OS::x_wstring policy;
    if (request.GetEnvVariable(L"txtPolicyInstanceId", policy, false) == 0) {
        view.AddField(L"txtPolicyInstanceId", policy);
    }
    return view;
}

}  // namespace

PageAnswer AnswerThroughPlugin(const PluginModule& plugin, host::SqliteStore& store, const CCGIRequestData& request) {
    char* output = nullptr;
    int result = -1;
    PageAnswer answer;
    if (const std::string action = ActionName(request); !action.empty()) {
        answer.outcome = store.RunAction([&] { result = plugin.UIRequest(&request, &output); }, action);
    } else {
        // A page that changes nothing reads the store's state once.
        store.RunReading([&] { result = plugin.UIRequest(&request, &output); });
    }
    answer.response = {result == 0 ? output : nullptr, [&plugin](char* buffer) { plugin.Free(buffer); }};
    if (!answer.outcome.is_stored && !IsActionPage(request.GetPageID())) {
        // A refusal at commit comes after the page was filled from the
        // transaction's own writes: the page that goes out shows the stored state.
        const CCGIRequestData view = ViewOf(request);
        answer.response = AnswerThroughPlugin(plugin, store, view).response;
    }
    return answer;
}

}  // namespace tessera::console
