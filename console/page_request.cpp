// One request through the plug-in, inside a store transaction when it is an action.
#include "page_request.h"

#include "cgi_request.h"
#include "os_string.h"
#include "sqlite_store.h"

namespace tessera::console {
namespace {

const wchar_t* const kActionPages[] = {L"scan/WebThreatProtection_Import.htm",
                                       L"scan/WebThreatProtection_Export.htm"};

}  // namespace

bool IsActionPage(const OS::x_wstring& page_id) {
    for (const wchar_t* action_page : kActionPages) {
        if (page_id.CompareNoCase(action_page) == 0) return true;
    }
    return false;
}

bool IsStoreAction(const CCGIRequestData& request) {
    if (IsActionPage(request.GetPageID())) return true;
    for (const auto& [name, value] : request.Fields()) {
        if (name.CompareNoCase(L"FormAction") == 0) return true;
    }
    return false;
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
    if (IsStoreAction(request)) {
        answer.outcome = store.RunAction([&] { result = plugin.UIRequest(&request, &output); });
    } else {
        result = plugin.UIRequest(&request, &output);
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
