// One request through the plug-in, as every console command sends it: a
// request that changes the store runs as one store transaction.
#pragma once

#include "mgmt_store.h"
#include "os_string.h"
#include "plugin_module.h"
#include "sqlite_store.h"

#include <functional>
#include <memory>
#include <string>

class CCGIRequestData;

namespace tessera::console {

// What a request that changes the store or the audit log does, as History and
// `audit --action` name it: "import" or "export" for any request of those
// pages, "save" or "reset" for a form action of that name (a field
// "FormAction" in any letter case), "other" for any other; empty for a
// request that changes nothing.
std::string ActionName(const CCGIRequestData& request);

// True when `page_id` (compared without regard to letter case) names a page
// whose every request is an action: the import and export pages.
bool IsActionPage(const OS::x_wstring& page_id);

struct PageAnswer {
    std::unique_ptr<char, std::function<void(char*)>> response;  // null when the plug-in made none
    host::ActionOutcome outcome;                                 // of the action; stored when no action ran
};

// Sends `request` to the plug-in; an action runs inside store.RunAction, so its
// reads see one state and its writes land together or not at all. When the
// store refused a change of settings, the response is the page asked for
// again without the action, so that it shows what the store holds.
PageAnswer AnswerThroughPlugin(const PluginModule& plugin, host::SqliteStore& store, const CCGIRequestData& request);

}  // namespace tessera::console
