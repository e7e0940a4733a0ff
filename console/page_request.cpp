// One request through the plug-in, inside a store transaction when it is an action.
#include "page_request.h"

#include "cgi_request.h"
#include "os_string.h"

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
    return answer;
}

}  // namespace tessera::console
