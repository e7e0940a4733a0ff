// One request through the plug-in, inside a store transaction when it is an action.
#include "page_request.h"
#include "hosted_pages.h"

#include "cgi_request.h"
#include "os_string.h"
#include "sqlite_store.h"
#include "text_util.h"

namespace tessera::console {

std::string ActionName(const CCGIRequestData& request) {
    if (const HostedPage* page = FindHostedPage(request.GetPageID()); page != nullptr && *page->action_name != '\0') {
        return page->action_name;
    }
    for (const auto& [name, value] : request.Fields()) {
        if (name.CompareNoCase(kFormActionField) != 0) continue;
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

PolicyChoice ChosenPolicy(const CCGIRequestData& request, host::SqliteStore& store) {
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
    if (!choice.is_hosted) {
        const std::wstring policy_class = kPolicyClass;
        for (const host::StoredInstance& instance : store.List(&policy_class, nullptr)) {
            if (!IsDefaultsInstance(instance.instance_name)) choice.hosted.push_back(instance.instance_name);
        }
    }
    return choice;
}

PageAnswer AnswerThroughPlugin(const PluginModule& plugin, host::SqliteStore& store, const CCGIRequestData& request,
                               const DeliverInsideAction& deliver) {
    char* output = nullptr;
    int result = -1;
    PageAnswer answer;
    const auto answer_and_deliver = [&] {
        result = plugin.UIRequest(&request, &output);
        if (deliver) deliver(result == 0 ? output : nullptr);
    };
    answer.is_action_page = IsActionPage(request.GetPageID());
    answer.action = ActionName(request);
    if (!answer.action.empty()) {
        answer.outcome = store.RunAction(
            answer_and_deliver, answer.action,
            answer.is_action_page ? host::ActionEffect::kOutsideStore : host::ActionEffect::kChangesStore);
    } else if (std::optional<std::string> failure = store.RunReading(answer_and_deliver)) {
        // A page that changes nothing reads the store's state once.
        answer.read_failure = std::move(*failure);
    }
    answer.response = {result == 0 ? output : nullptr, [&plugin](char* buffer) { plugin.Free(buffer); }};
    if (!answer.outcome.is_stored && !answer.is_action_page) {
        // A refusal at commit comes after the page was filled from the
        // transaction's own writes: the page that goes out shows the stored state.
        PageAnswer view = AnswerThroughPlugin(plugin, store, ViewOf(request));
        answer.response = std::move(view.response);
        answer.read_failure = std::move(view.read_failure);
    }
    return answer;
}

}  // namespace tessera::console
