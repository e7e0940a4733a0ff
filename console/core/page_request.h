// One request through the plug-in, as every console command sends it: a
// request that changes the store runs as one store transaction.
#pragma once

#include "console_store.h"
#include "mgmt_store.h"
#include "os_string.h"
#include "plugin_module.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CCGIRequestData;

namespace tessera::console {

// What a request that changes the store or the audit log does, as History and
// `audit --action` name it: "import" or "export" for any request of those
// pages, "save" or "reset" for a form action of that name (a field
// kFormActionField in any letter case), "other" for any other; empty for a
// request that changes nothing.
std::string ActionName(const CCGIRequestData& request);

// The policy a request names in its policy field (kPolicyField, as
// the plug-in's forms name it), and whether the store holds it. The plug-in
// shows and saves nothing of a policy it cannot find, so the web console
// refuses such a request before the plug-in runs.
struct PolicyChoice {
    std::wstring named;                // empty: the request names none, and the plug-in takes its default
    bool is_hosted = true;             // the store holds policy `named` (names compare exactly)
    std::vector<std::wstring> hosted;  // when it does not: the policies it holds
};
PolicyChoice ChosenPolicy(const CCGIRequestData& request, host::ConsoleStore& store);

// The policies the store holds that the pages show and save (not their
// defaults), by instance name.
std::vector<std::wstring> HostedPolicyNames(host::ConsoleStore& store);

// The channels through which the console's actions come, as their audit records name them.
inline constexpr char kBrowserChannel[] = "browser";
inline constexpr char kApiChannel[] = "api";
inline constexpr char kCommandLineChannel[] = "command line";

struct PageAnswer {
    std::unique_ptr<char, std::function<void(char*)>> response;  // null when the plug-in made none
    std::string action;                                          // ActionName of the request
    bool is_action_page = false;                                 // IsActionPage of its page
    host::ActionOutcome outcome;                                 // of the action; stored when no action ran
    // Why the page could not read what the store holds (a damaged file); empty
    // when it read everything. Such a page must not be taken for the settings.
    std::string read_failure;
};

// What is done with the plug-in's response inside its action, before the
// action's transaction commits: it may throw host::AbandonedAction, and then
// nothing of the action is stored, its audit records neither.
using DeliverInsideAction = std::function<void(const char* response)>;

// Sends `request` to the plug-in; an action runs inside store.RunAction, so its
// reads see one state and its writes land together or not at all. The import
// and export pages' records report what they did outside the store; any
// other action's records are noted as rolled back when the store refuses it.
// When the store refused a change of settings, the response is the page
// asked for again without the action, so that it shows what the store holds.
// More work inside the transactions of AnswerThroughPlugin.
struct PageHooks {
    // Inside an action, before the plug-in sees its request; it may throw
    // host::AbandonedAction to end the action with nothing stored or audited.
    std::function<void()> check;
    // After the plug-in made each page, inside the transaction it was made
    // in (the action's, or the reading of the page made again): it reads the
    // state that page shows.
    std::function<void()> read_state;
};

PageAnswer AnswerThroughPlugin(const PluginModule& plugin, host::ConsoleStore& store, const CCGIRequestData& request,
                               const host::ActionChannel& channel, const DeliverInsideAction& deliver = {},
                               const PageHooks& hooks = {});

// What is done inside an action before the plug-in sees its request: it may
// complete the request from what it reads of the store in the action's own
// transaction, so that nothing changes between that read and the plug-in's
// writes, or throw host::AbandonedAction to end the action with nothing
// stored and nothing audited.
using PrepareInsideAction = std::function<void(CCGIRequestData& request)>;

// Sends `request`, an action, to the plug-in as AnswerThroughPlugin does,
// `prepare` first. Its answer's page is the plug-in's, or null when the
// action was refused or abandoned: no page is made again.
PageAnswer AnswerPreparedAction(const PluginModule& plugin, host::ConsoleStore& store, CCGIRequestData& request,
                                const PrepareInsideAction& prepare, const DeliverInsideAction& deliver,
                                const host::ActionChannel& channel);

}  // namespace tessera::console
