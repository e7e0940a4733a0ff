// One request through the plug-in, inside a store transaction when it is an action.
#include "page_request.h"
#include "hosted_pages.h"

#include "cgi_request.h"
#include "console_store.h"
#include "os_string.h"
#include "text_util.h"

namespace tessera::console {

std::string ActionName(const CCGIRequestData& request) {
    if (const HostedPage* page = FindHostedPage(request.GetPageID()); page != nullptr && *page->action_name != '\0') {
        return page->action_name;
    }
    std::string action;
    request.ForEachField([&action](const OS::x_wstring& name, const OS::x_wstring& value) {
        if (name.CompareNoCase(kFormActionField) != 0) return true;
        // The name is shown in History and taken by `audit --action`: one of a few words.
        action = host::FoldAsciiCase(std::string(OS::ToUtf8(value)));
        if (action != "save" && action != "reset") action = "other";
        return false;
    });
    return action;
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
    if (request.GetEnvVariable(kPolicyField, policy, false) == 0) {
        view.AddField(kPolicyField, policy);
    }
    return view;
}

}  // namespace

namespace {

// A policy's factory defaults sit beside it as POLICY_DEFAULT, read only by
// the reset: no page shows or saves them.
constexpr std::wstring_view kDefaultsSuffix = L"_DEFAULT";

bool IsDefaultsInstance(std::wstring_view name) {
    return name.size() > kDefaultsSuffix.size() && name.substr(name.size() - kDefaultsSuffix.size()) == kDefaultsSuffix;
}

}  // namespace

PolicyChoice ChosenPolicy(const CCGIRequestData& request, host::ConsoleStore& store) {
    PolicyChoice choice;
    OS::x_wstring named;
    if (request.GetEnvVariable(kPolicyField, named, false) != 0 || named.IsEmpty()) return choice;
    choice.named = named.c_str();
    host::PropertyBag policy;
    if (store.RunReading([&] { choice.is_hosted = store.Load(kPolicyClass, choice.named, policy); })) {
        choice.is_hosted = true;  // the store cannot be read: the page says so
        return choice;
    }
    choice.is_hosted = choice.is_hosted && !IsDefaultsInstance(choice.named);
    if (!choice.is_hosted) choice.hosted = HostedPolicyNames(store);
    return choice;
}

std::vector<std::wstring> HostedPolicyNames(host::ConsoleStore& store) {
    std::vector<std::wstring> names;
    const std::wstring policy_class = kPolicyClass;
    for (const host::StoredInstance& instance : store.List(&policy_class, nullptr)) {
        if (!IsDefaultsInstance(instance.instance_name)) names.push_back(instance.instance_name);
    }
    return names;
}

namespace {

PageAnswer Answer(const PluginModule& plugin, host::ConsoleStore& store, const CCGIRequestData& request,
                  const DeliverInsideAction& deliver, const std::function<void()>& prepare,
                  const host::ActionChannel& channel, const std::function<void()>& read_state = {}) {
    char* output = nullptr;
    int result = -1;
    PageAnswer answer;
    const auto answer_and_deliver = [&] {
        if (prepare) prepare();
        result = plugin.UIRequest(&request, &output);
        if (read_state) read_state();
        if (deliver) deliver(result == 0 ? output : nullptr);
    };
    answer.is_action_page = IsActionPage(request.GetPageID());
    answer.action = ActionName(request);
    if (!answer.action.empty()) {
        answer.outcome = store.RunAction(
            answer_and_deliver, answer.action,
            answer.is_action_page ? host::ActionEffect::kOutsideStore : host::ActionEffect::kChangesStore, channel);
    } else if (std::optional<std::string> failure = store.RunReading(answer_and_deliver)) {
        // A page that changes nothing reads the store's state once.
        answer.read_failure = std::move(*failure);
    }
    answer.response = {result == 0 ? output : nullptr, [&plugin](char* buffer) { plugin.Free(buffer); }};
    return answer;
}

}  // namespace

PageAnswer AnswerThroughPlugin(const PluginModule& plugin, host::ConsoleStore& store, const CCGIRequestData& request,
                               const host::ActionChannel& channel, const DeliverInsideAction& deliver,
                               const PageHooks& hooks) {
    PageAnswer answer = Answer(plugin, store, request, deliver, hooks.check, channel, hooks.read_state);
    if (!answer.outcome.is_stored && !answer.is_action_page) {
        // A refusal at commit comes after the page was filled from the
        // transaction's own writes: the page that goes out shows the stored state.
        PageAnswer view = Answer(plugin, store, ViewOf(request), {}, {}, channel, hooks.read_state);
        answer.response = std::move(view.response);
        answer.read_failure = std::move(view.read_failure);
    }
    return answer;
}

PageAnswer AnswerPreparedAction(const PluginModule& plugin, host::ConsoleStore& store, CCGIRequestData& request,
                                const PrepareInsideAction& prepare, const DeliverInsideAction& deliver,
                                const host::ActionChannel& channel) {
    PageAnswer answer = Answer(
        plugin, store, request, deliver, [&] { prepare(request); }, channel);
    if (!answer.outcome.is_stored) answer.response.reset();
    return answer;
}

}  // namespace tessera::console
