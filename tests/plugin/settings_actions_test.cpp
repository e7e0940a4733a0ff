// The settings form's save and reset: what reaches the store, what stays, the
// audit record of each, and each store step failing in turn.
#include "localized_text.h"
#include "settings_probe.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>

namespace {

using namespace tessera::test;

// The audit messages as data/texts.json words them.
const std::wstring kSavedInstantMessages = L"Settings of the instant message URL filter policy saved.";
const std::wstring kSavedFileTransfers = L"Settings of the file transfer URL filter policy saved.";
const std::wstring kResetInstantMessages =
    L"Settings of the instant message URL filter policy restored to their defaults.";
const std::wstring kResetFileTransfers = L"Settings of the file transfer URL filter policy restored to their defaults.";

// "vt:value" of a stored scalar, or "absent".
std::string Describe(const std::optional<_variant_t>& value) {
    if (!value) {
        return "absent";
    }
    switch (value->vt) {
    case VT_BOOL:
        return "11:" + std::to_string(value->boolVal);
    case VT_BSTR:
        return "8:" + std::string(OS::WCharToUTF8Char(value->bstrVal, nullptr));
    default:
        return std::to_string(value->vt) + ":" + std::to_string(value->lVal);
    }
}

class SettingsActionTest : public SettingsProbeTest {
protected:
    Response Post(const std::wstring& action, Fields fields) {
        fields.insert(fields.begin(), {L"FormAction", action});
        return harness_.Render(L"scan/WebThreat_Protection.htm", fields);
    }
    std::string Policy(const std::wstring& property, const std::wstring& instance = L"URL_FILTER") {
        return Describe(harness_.Stored(L"QZ_UrlFilter", instance, property));
    }
    std::string Notification(const std::wstring& property, const std::wstring& instance = L"URL_FILTER") {
        return Describe(harness_.StoredNotification(instance, property));
    }
    bool Logged(std::size_t from, const std::string& record) const {
        const auto records = harness_.DebugRecordsFrom(from);
        return std::find(records.begin(), records.end(), record) != records.end();
    }
};

TEST_F(SettingsActionTest, SaveStoresEveryFieldOfTheForm) {
    const Fields form = {
        {L"chkEnable", L"on"},
        {L"rdoSecurityLevel", L"Mid"},
        {L"chkEnableAppURL", L"on"},
        {L"rdoDeliverAct", L"AddNote"},
        {L"txtDeliverAct_Replace", L"gone <b>"},
        {L"txtDeliverAct_AddNote", L""},
        {L"rdoArchive", L"ArchiveAct_no"},
        {L"chkEnableTakeActionToNoRating", L"on"},
        {L"chkAdminSNMP", L"on"},
        {L"txtAdminInstant", L"sip:admin@example.com"},
        {L"txtAdminEmail", L"admin@example.com"},
        {L"txtNotifyAdminSubject", L"Blocked"},
        {L"txtAdminMessage", L"line 1\nline 2"},
        {L"chkSenderInstant", L"on"},
        {L"txtSenderSubject", L"s"},
        {L"txtSenderMessage", L"m"},
        {L"chkRecieverEmail", L"on"},
        {L"txtRecieverSubject", L"r"},
        {L"txtRecieverMessage", L"\u00e9"},
        {L"stApprovedURL", L"b.com"},
        {L"stApprovedURL", L"www.a.com"},
    };
    ASSERT_EQ(Post(L"save", form).result, 0);

    const std::pair<const wchar_t*, const char*> policy[] = {
        {L"EnableURLFilter", "11:-1"},   {L"SecurityLevelType", "3:1"},           {L"EnableApprovedList", "11:-1"},
        {L"URLFilterActionType", "3:3"}, {L"ActionReplaceAll", "8:gone <b>"},     {L"ActionTagFrontNote", "8:"},
        {L"EnableArchive", "11:0"},      {L"EnableActionToNoRatingURL", "11:-1"},
    };
    for (const auto& [property, expected] : policy) {
        EXPECT_EQ(Policy(property), expected) << OS::WCharToUTF8Char(property, nullptr);
    }
    const std::pair<const wchar_t*, const char*> notification[] = {
        {L"EnableAdminEmailNotify", "11:0"},
        {L"EnableAdminIMNotify", "11:0"},
        {L"EnableSNMPNotify", "11:-1"},
        {L"EnableEventLog", "11:0"},
        {L"AdminSIPAddress", "8:sip:admin@example.com"},
        {L"AdminEmailAddress", "8:admin@example.com"},
        {L"AdminSubject", "8:Blocked"},
        {L"AdminMessage", "8:line 1\nline 2"},
        {L"EnableSenderEmailNotify", "11:0"},
        {L"EnableSenderIMNotify", "11:-1"},
        {L"SenderSubject", "8:s"},
        {L"SenderMessage", "8:m"},
        {L"EnableRecipientEmailNotify", "11:-1"},
        {L"EnableRecipientIMNotify", "11:0"},
        {L"RecipientSubject", "8:r"},
        {L"RecipientMessage", "8:\xc3\xa9"},
    };
    for (const auto& [property, expected] : notification) {
        EXPECT_EQ(Notification(property), expected) << OS::WCharToUTF8Char(property, nullptr);
    }
    EXPECT_EQ(harness_.StoredApprovedList(), (std::vector<std::wstring>{L"*.b.com", L"www.a.com"}));

    const auto audit = harness_.Audit();
    ASSERT_EQ(audit.size(), 1u);
    EXPECT_EQ(audit[0].message, kSavedInstantMessages);
    EXPECT_EQ(audit[0].event_type, 2);
    EXPECT_EQ(audit[0].source_type, 1);
    EXPECT_EQ(audit[0].context[0], L"local");
    EXPECT_EQ(audit[0].context[2], L"scan/WebThreat_Protection.htm");
}

TEST_F(SettingsActionTest, AbsentFieldsLeaveValuesButCheckBoxesAreAlwaysWritten) {
    harness_.ReplaceInstance(L"QZ_UrlFilter", L"URL_FILTER",
                             R"({"EnableURLFilter": {"vt": 11, "value": -1}, "SecurityLevelType": {"vt": 3, "value": 1},
            "URLFilterActionType": {"vt": 3, "value": 2}, "ActionReplaceAll": {"vt": 8, "value": "kept"},
            "EnableArchive": {"vt": 11, "value": -1},
            "UFNotificationSettings": {"vt": 13, "value": {"EnableEventLog": {"vt": 11, "value": -1},
                                                           "AdminSubject": {"vt": 8, "value": "kept too"}}}})");
    ASSERT_EQ(Post(L"save", {}).result, 0);
    EXPECT_EQ(Policy(L"EnableURLFilter"), "11:0");
    EXPECT_EQ(Policy(L"EnableApprovedList"), "11:0");
    EXPECT_EQ(Policy(L"SecurityLevelType"), "3:1");
    EXPECT_EQ(Policy(L"URLFilterActionType"), "3:2");
    EXPECT_EQ(Policy(L"ActionReplaceAll"), "8:kept");
    EXPECT_EQ(Policy(L"ActionTagFrontNote"), "absent");
    EXPECT_EQ(Policy(L"EnableArchive"), "11:-1");
    EXPECT_EQ(Notification(L"EnableEventLog"), "11:0");
    EXPECT_EQ(Notification(L"AdminSubject"), "8:kept too");
    EXPECT_EQ(Notification(L"RecipientMessage"), "absent");
    // No "stApprovedURL" value at all empties the list.
    EXPECT_TRUE(harness_.StoredApprovedList().empty());
}

struct RadioCase {
    const wchar_t* field;
    const wchar_t* value;
    const wchar_t* property;
    const char* stored;
};

TEST_F(SettingsActionTest, RadioValuesIgnoreCaseAndFallBack) {
    const RadioCase cases[] = {
        {L"rdoSecurityLevel", L"High", L"SecurityLevelType", "3:0"},
        {L"rdoSecurityLevel", L"mid", L"SecurityLevelType", "3:1"},
        {L"rdoSecurityLevel", L"LOW", L"SecurityLevelType", "3:2"},
        {L"rdoSecurityLevel", L"Medium", L"SecurityLevelType", "3:2"},
        {L"rdoDeliverAct", L"cancel", L"URLFilterActionType", "3:1"},
        {L"rdoDeliverAct", L"REPLACE", L"URLFilterActionType", "3:2"},
        {L"rdoDeliverAct", L"addnote", L"URLFilterActionType", "3:3"},
        {L"rdoDeliverAct", L"Pass", L"URLFilterActionType", "3:0"},
        {L"rdoDeliverAct", L"Drop", L"URLFilterActionType", "3:0"},
        {L"rdoArchive", L"ArchiveAct_yes", L"EnableArchive", "11:-1"},
        {L"rdoArchive", L"ARCHIVEACT_NO", L"EnableArchive", "11:0"},
        {L"rdoArchive", L"maybe", L"EnableArchive", "11:0"},  // unchanged from the case before
        {L"rdoArchive", L"archiveact_YES", L"EnableArchive", "11:-1"},
        {L"rdoArchive", L"", L"EnableArchive", "11:-1"},
    };
    for (const RadioCase& test : cases) {
        ASSERT_EQ(Post(L"save", {{test.field, test.value}}).result, 0);
        EXPECT_EQ(Policy(test.property), test.stored)
            << OS::WCharToUTF8Char(test.field, nullptr) << "=" << OS::WCharToUTF8Char(test.value, nullptr);
    }
}

struct ListSaveCase {
    const char* name;
    std::vector<std::wstring> submitted;
    std::vector<std::wstring> stored;
};

class ApprovedListSaveTest : public SettingsActionTest, public testing::WithParamInterface<ListSaveCase> {};

TEST_P(ApprovedListSaveTest, SortsSplitsAndAppliesTheRule) {
    Fields fields;
    for (const std::wstring& value : GetParam().submitted) {
        fields.emplace_back(L"stApprovedURL", value);
    }
    ASSERT_EQ(Post(L"SAVE", fields).result, 0);
    EXPECT_EQ(harness_.StoredApprovedList(), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Save, ApprovedListSaveTest,
    testing::Values(
        ListSaveCase{"SortedByCodeUnit", {L"c.com", L"B.com", L"a.com"}, {L"*.B.com", L"*.a.com", L"*.c.com"}},
        ListSaveCase{
            "SortedPastALongSharedStart",
            {L"ba.com", L"ab.com.x", L"a-long-shared-start.b.com", L"ab.com", L"a-long-shared-start.a.com"},
            {L"*.a-long-shared-start.a.com", L"*.a-long-shared-start.b.com", L"*.ab.com", L"*.ab.com.x", L"*.ba.com"}},
        ListSaveCase{"SortBeforeSplit", {L"b.com;a.com", L"c.com"}, {L"*.b.com", L"*.a.com", L"*.c.com"}},
        ListSaveCase{"StarSortsFirstAndWins", {L"a.com", L"A.com", L"*.a.com"}, {L"*.a.com"}},
        ListSaveCase{"CapitalsBeatSmallLetters", {L"x.org", L"X.ORG"}, {L"*.X.ORG"}},
        ListSaveCase{"EmptyPiecesDropped", {L";;a.com;", L"", L"*."}, {L"*.a.com"}},
        ListSaveCase{
            "AstralSortsBeforePrivateUse", {L"\uE000.com", L"\U0001F600.com"}, {L"*.\U0001F600.com", L"*.\uE000.com"}}),
    [](const testing::TestParamInfo<ListSaveCase>& case_info) { return std::string(case_info.param.name); });

// The cases that the pages' script is tested with too, in the order the save
// applies the rule, so that the two rules cannot drift apart.
TEST_F(SettingsActionTest, TheSaveKeepsWhatTheSharedEntryRuleCasesSay) {
    std::ifstream file(SourceDir() / "tests/data/entry_rule_cases.json", std::ios::binary);
    const nlohmann::json cases = nlohmann::json::parse(file).at("cases");
    ASSERT_FALSE(cases.empty());
    for (const nlohmann::json& test : cases) {
        SCOPED_TRACE(test.at("name").get<std::string>());
        Fields fields;
        for (const nlohmann::json& entry : test.at("entries")) {
            fields.emplace_back(L"stApprovedURL", OS::FromUtf8(entry.get<std::string>()));
        }
        std::vector<std::wstring> kept;
        for (const nlohmann::json& entry : test.at("kept")) kept.push_back(OS::FromUtf8(entry.get<std::string>()));
        ASSERT_EQ(Post(L"save", fields).result, 0);
        EXPECT_EQ(harness_.StoredApprovedList(), kept);
    }
}

TEST_F(SettingsActionTest, BothPoliciesShareOneApprovedList) {
    ASSERT_EQ(Post(L"save", {{L"txtPolicyInstanceId", L"URL_FILTER_FILE"},
                             {L"stApprovedURL", L"shared.com"},
                             {L"rdoSecurityLevel", L"High"}})
                  .result,
              0);
    EXPECT_EQ(Policy(L"SecurityLevelType", L"URL_FILTER_FILE"), "3:0");
    EXPECT_NE(Policy(L"SecurityLevelType", L"URL_FILTER"), "3:0");
    const auto shown = ProbeValues(harness_.Render(L"scan/WebThreat_Protection.htm").Body());
    EXPECT_EQ(shown.at("APPROVED_LIST_ENTRIES"), "\n<option value=\"*.shared.com\">*.shared.com</option>");
    EXPECT_EQ(harness_.Audit().back().message, kSavedFileTransfers);
}

TEST_F(SettingsActionTest, SaveOfAPolicyTheStoreLacksStillSavesTheList) {
    const struct {
        const wchar_t* posted;
        const std::wstring& audit_message;
    } cases[] = {{L"url_filter", kSavedInstantMessages}, {L"NO_SUCH_POLICY", kSavedFileTransfers}};
    for (const auto& test : cases) {
        const auto before = harness_.DebugRecords().size();
        ASSERT_EQ(Post(L"save", {{L"txtPolicyInstanceId", test.posted}, {L"stApprovedURL", test.posted}}).result, 0);
        EXPECT_TRUE(Logged(before,
                           "4099 .\\web_PageCB_URLFilter:366 Failed to get URL Filter CMgmtObject object "
                           "(QZ_UrlFilter:" +
                               std::string(OS::WCharToUTF8Char(test.posted, nullptr)) + ")"));
        EXPECT_EQ(harness_.StoredApprovedList(), std::vector<std::wstring>{L"*." + std::wstring(test.posted)});
        EXPECT_EQ(harness_.Audit().back().message, test.audit_message);
    }
    EXPECT_EQ(harness_.Audit().size(), 2u);
}

struct FaultCase {
    const char* name;
    bool fail_get;
    const wchar_t* class_name;
    const wchar_t* instance;
    int line;  // of the debug record that names the failure
    bool policy_changes;
    bool list_changes;
};

class StoreFaultTest : public SettingsActionTest, public testing::WithParamInterface<FaultCase> {
protected:
    void Inject(const FaultCase& fault) {
        if (fault.fail_get) {
            harness_.Store().FailGet(fault.class_name, fault.instance);
        } else {
            harness_.Store().FailPut(fault.class_name, fault.instance);
        }
    }
    // The debug record of the failure; a failed Get is worded by the action.
    static std::string Record(const FaultCase& fault, const char* failed_get) {
        return "4099 .\\web_PageCB_URLFilter:" + std::to_string(fault.line) + " " +
               (fault.fail_get ? failed_get : "Failed to call CMgmtObject::Put()") + " (" +
               OS::WCharToUTF8Char(fault.class_name, nullptr) + ":" + OS::WCharToUTF8Char(fault.instance, nullptr) +
               ")";
    }
};

using SaveFaultTest = StoreFaultTest;

TEST_P(SaveFaultTest, EachStoreStepFailingInTurn) {
    const FaultCase& fault = GetParam();
    harness_.ReplaceInstance(L"QZ_UrlFilter", L"URL_FILTER", R"({"SecurityLevelType": {"vt": 3, "value": 7}})");
    const std::string level_before = Policy(L"SecurityLevelType");
    const auto list_before = harness_.StoredApprovedList();
    Inject(fault);
    const auto before = harness_.DebugRecords().size();
    ASSERT_EQ(Post(L"save", {{L"rdoSecurityLevel", L"Low"}, {L"stApprovedURL", L"fault.example"}}).result, 0);
    harness_.Store().ClearFailures();

    EXPECT_TRUE(Logged(before, Record(fault, "Failed to get URL Filter CMgmtObject object")));
    EXPECT_TRUE(Logged(before, "273 .\\web_PageCB_URLFilter:505 CPageCB_URLFilter::SaveURLFilterSetting()"));
    EXPECT_EQ(Policy(L"SecurityLevelType") != level_before, fault.policy_changes);
    EXPECT_EQ(harness_.StoredApprovedList() != list_before, fault.list_changes);
    EXPECT_EQ(harness_.Audit().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SaveFaultTest,
    testing::Values(FaultCase{"PolicyNotLoaded", true, L"QZ_UrlFilter", L"URL_FILTER", 366, false, true},
                    FaultCase{"PolicyNotStored", false, L"QZ_UrlFilter", L"URL_FILTER", 358, false, true},
                    FaultCase{"ListNotLoaded", true, L"QZ_UFApprovedLists", L"UF_APPROVED_LIST", 488, true, false},
                    FaultCase{"ListNotStored", false, L"QZ_UFApprovedLists", L"UF_APPROVED_LIST", 480, true, false}),
    [](const testing::TestParamInfo<FaultCase>& case_info) { return std::string(case_info.param.name); });

struct ResetChoiceCase {
    const wchar_t* posted;  // null: no field
    const wchar_t* live;
    const std::wstring& audit_message;
};

TEST_F(SettingsActionTest, ResetChoosesThePolicyFromThePostedId) {
    const ResetChoiceCase cases[] = {
        {L"URL_FILTER", L"URL_FILTER", kResetInstantMessages},
        {L"url_Filter", L"URL_FILTER", kResetInstantMessages},
        {L"URL_FILTER_FILE", L"URL_FILTER_FILE", kResetFileTransfers},
        {L"", L"URL_FILTER_FILE", kResetFileTransfers},
        {nullptr, L"URL_FILTER_FILE", kResetFileTransfers},
        {L"anything", L"URL_FILTER_FILE", kResetFileTransfers},
    };
    for (const ResetChoiceCase& test : cases) {
        const std::string posted = test.posted ? std::string(OS::WCharToUTF8Char(test.posted, nullptr)) : "";
        for (const wchar_t* live : {L"URL_FILTER", L"URL_FILTER_FILE"}) {
            harness_.ReplaceInstance(L"QZ_UrlFilter", live,
                                     R"({"SecurityLevelType": {"vt": 3, "value": 7}, "UFNotificationSettings":
                                         {"vt": 13, "value": {"AdminSubject": {"vt": 8, "value": "changed"}}}})");
        }
        harness_.ReplaceInstance(L"QZ_UFApprovedLists", L"UF_APPROVED_LIST",
                                 R"({"ApprovedLists": {"vt": 8200, "value": ["changed.com"]}})");
        Fields fields;
        if (test.posted != nullptr) {
            fields.emplace_back(L"txtPolicyInstanceId", test.posted);
        }
        const auto before = harness_.DebugRecords().size();
        ASSERT_EQ(Post(L"reset", fields).result, 0);

        const std::wstring defaults = std::wstring(test.live) + L"_DEFAULT";
        const std::wstring other = std::wstring(test.live) == L"URL_FILTER" ? L"URL_FILTER_FILE" : L"URL_FILTER";
        EXPECT_EQ(Policy(L"SecurityLevelType", test.live), Policy(L"SecurityLevelType", defaults)) << posted;
        EXPECT_EQ(Notification(L"AdminSubject", test.live), Notification(L"AdminSubject", defaults)) << posted;
        EXPECT_EQ(Policy(L"SecurityLevelType", other), "3:7") << posted;
        EXPECT_EQ(harness_.StoredApprovedList(), harness_.StoredApprovedList(L"UF_APPROVED_LIST_DEFAULT")) << posted;
        EXPECT_TRUE(Logged(before, "258 .\\web_PageCB_URLFilter:513 txrPolicyInstanceId: " + posted)) << posted;
        EXPECT_EQ(harness_.Audit().back().message, test.audit_message) << posted;
    }
    EXPECT_EQ(harness_.Audit().size(), std::size(cases));
}

TEST_F(SettingsActionTest, ResetCopiesValuesAsStoredAndKeepsOtherEmbeddedValues) {
    harness_.ReplaceInstance(L"QZ_UrlFilter", L"URL_FILTER_DEFAULT",
                             R"({"EnableArchive": {"vt": 3, "value": 1}, "SecurityLevelType": {"vt": 19, "value": 2},
            "UFNotificationSettings": {"vt": 13, "value": {"EnableEventLog": {"vt": 8, "value": "odd"}}}})");
    harness_.ReplaceInstance(
        L"QZ_UrlFilter", L"URL_FILTER",
        R"({"ActionReplaceAll": {"vt": 8, "value": "no default for me"}, "Extra": {"vt": 3, "value": 9},
            "UFNotificationSettings": {"vt": 13, "value": {"Extra": {"vt": 8, "value": "stays"},
                                                           "EnableEventLog": {"vt": 11, "value": -1}}}})");
    ASSERT_EQ(Post(L"Reset", {{L"txtPolicyInstanceId", L"URL_FILTER"}}).result, 0);
    EXPECT_EQ(Policy(L"EnableArchive"), "3:1");
    EXPECT_EQ(Policy(L"SecurityLevelType"), "19:2");
    EXPECT_EQ(Policy(L"ActionReplaceAll"), "8:no default for me");
    EXPECT_EQ(Policy(L"Extra"), "3:9");
    EXPECT_EQ(Notification(L"EnableEventLog"), "8:odd");
    EXPECT_EQ(Notification(L"Extra"), "8:stays");
}

using ResetFaultTest = StoreFaultTest;

TEST_P(ResetFaultTest, EachStoreStepFailingInTurn) {
    const FaultCase& fault = GetParam();
    harness_.ReplaceInstance(L"QZ_UrlFilter", L"URL_FILTER", R"({"SecurityLevelType": {"vt": 3, "value": 7}})");
    harness_.ReplaceInstance(L"QZ_UFApprovedLists", L"UF_APPROVED_LIST",
                             R"({"ApprovedLists": {"vt": 8200, "value": ["changed.com"]}})");
    Inject(fault);
    const auto before = harness_.DebugRecords().size();
    ASSERT_EQ(Post(L"reset", {{L"txtPolicyInstanceId", L"URL_FILTER"}}).result, 0);
    harness_.Store().ClearFailures();

    EXPECT_TRUE(Logged(before, Record(fault, "Failed to get CMgmtObject")));
    EXPECT_TRUE(Logged(before, "273 .\\web_PageCB_URLFilter:710 CPageCB_URLFilter::ResetURLFilterSetting()"));
    EXPECT_EQ(Policy(L"SecurityLevelType") != "3:7", fault.policy_changes);
    EXPECT_EQ(harness_.StoredApprovedList() != std::vector<std::wstring>{L"changed.com"}, fault.list_changes);
    ASSERT_EQ(harness_.Audit().size(), 1u);
    EXPECT_EQ(harness_.Audit()[0].message, kResetInstantMessages);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ResetFaultTest,
    testing::Values(FaultCase{"DefaultsNotLoaded", true, L"QZ_UrlFilter", L"URL_FILTER_DEFAULT", 666, false, true},
                    FaultCase{"LiveNotLoaded", true, L"QZ_UrlFilter", L"URL_FILTER", 658, false, true},
                    FaultCase{"PolicyNotStored", false, L"QZ_UrlFilter", L"URL_FILTER", 650, false, true},
                    FaultCase{"DefaultListNotLoaded", true, L"QZ_UFApprovedLists", L"UF_APPROVED_LIST_DEFAULT", 703,
                              true, false},
                    FaultCase{"LiveListNotLoaded", true, L"QZ_UFApprovedLists", L"UF_APPROVED_LIST", 695, true, false},
                    FaultCase{"ListNotStored", false, L"QZ_UFApprovedLists", L"UF_APPROVED_LIST", 687, true, false}),
    [](const testing::TestParamInfo<FaultCase>& case_info) { return std::string(case_info.param.name); });

}  // namespace
