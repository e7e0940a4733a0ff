// The settings page as the store holds it: read rules, the approved list
// display, the policy chosen by the form, and what stands when a read fails.
#include "settings_probe.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace tessera::test;

class SettingsPageTest : public SettingsProbeTest {
protected:
    std::map<std::string, std::string> Show(const Fields& fields = {}) {
        const Response response = harness_.Render(L"scan/WebThreat_Protection.htm", fields);
        EXPECT_EQ(response.result, 0);
        return ProbeValues(response.Body());
    }
};

struct ReadRuleCase {
    const char* name;
    std::string policy_json;  // the whole URL_FILTER instance
    std::map<std::string, std::string> expected;
};

class SettingsReadRuleTest : public SettingsPageTest, public testing::WithParamInterface<ReadRuleCase> {};

TEST_P(SettingsReadRuleTest, PlaceholdersFollowTheStoredValues) {
    harness_.ReplaceInstance(L"QZ_UrlFilter", L"URL_FILTER", GetParam().policy_json);
    const auto values = Show();
    for (const auto& [placeholder, value] : GetParam().expected) {
        EXPECT_EQ(values.at(placeholder), value) << placeholder;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ReadRules, SettingsReadRuleTest,
    testing::Values(
        ReadRuleCase{
            "TrueBooleanIsMinusOne",
            R"({"EnableURLFilter": {"vt": 11, "value": -1}, "EnableActionToNoRatingURL": {"vt": 11, "value": -1}})",
            {{"ENABLE_URL_FILTER", "checked"}, {"ENABLE_ACTION_TO_NO_RATING", "checked"}}},
        ReadRuleCase{
            "BooleanHoldingOneIsFalse",
            R"({"EnableURLFilter": {"vt": 11, "value": 1}, "EnableActionToNoRatingURL": {"vt": 11, "value": 1}})",
            {{"ENABLE_URL_FILTER", ""}, {"ENABLE_ACTION_TO_NO_RATING", ""}}},
        ReadRuleCase{"AbsentFlagsOnlyFilterFlagWritten",
                     R"({})",
                     {{"ENABLE_URL_FILTER", ""},
                      {"ENABLE_APPROVED_LIST", Unwritten("ENABLE_APPROVED_LIST")},
                      {"FILTER_ARCHIVE_CHECKED", Unwritten("FILTER_ARCHIVE_CHECKED")},
                      {"FILTER_NOT_ARCHIVE_CHECKED", Unwritten("FILTER_NOT_ARCHIVE_CHECKED")},
                      {"ENABLE_ACTION_TO_NO_RATING", Unwritten("ENABLE_ACTION_TO_NO_RATING")},
                      {"OPT_ENABLE_ADMIN_EMAIL_NOTIFY_CHECKED", Unwritten("OPT_ENABLE_ADMIN_EMAIL_NOTIFY_CHECKED")},
                      {"TEXT_ADMIN_MESSAGE", ""},
                      {"OPT_REPLACE_ALL_STRING", ""}}},
        ReadRuleCase{"IntegerInAFlagIsNoFlag",
                     R"({"EnableArchive": {"vt": 3, "value": 1}, "EnableURLFilter": {"vt": 3, "value": -1}})",
                     {{"FILTER_ARCHIVE_CHECKED", Unwritten("FILTER_ARCHIVE_CHECKED")},
                      {"FILTER_NOT_ARCHIVE_CHECKED", Unwritten("FILTER_NOT_ARCHIVE_CHECKED")},
                      {"ENABLE_URL_FILTER", ""}}},
        ReadRuleCase{"ArchiveFalseTicksTheNoButton",
                     R"({"EnableArchive": {"vt": 11, "value": 0}})",
                     {{"FILTER_ARCHIVE_CHECKED", ""}, {"FILTER_NOT_ARCHIVE_CHECKED", "checked"}}},
        ReadRuleCase{"AbsentNumbersReadAsZero",
                     R"({})",
                     {{"OPT_SECURITY_LEVEL_HIGH", "checked"},
                      {"OPT_SECURITY_LEVEL_MEDIUM", ""},
                      {"OPT_SECURITY_LEVEL_LOW", ""},
                      {"OPT_ACTION_DELIVER", "checked"},
                      {"OPT_ACTION_CANCEL", ""},
                      {"OPT_ACTION_REPLACE_ALL", ""},
                      {"OPT_ACTION_TAG_AND_DELIVER", ""}}},
        ReadRuleCase{"UnknownNumberTicksNone",
                     R"({"SecurityLevelType": {"vt": 3, "value": 5}, "URLFilterActionType": {"vt": 3, "value": -1}})",
                     {{"OPT_SECURITY_LEVEL_HIGH", ""},
                      {"OPT_SECURITY_LEVEL_MEDIUM", ""},
                      {"OPT_SECURITY_LEVEL_LOW", ""},
                      {"OPT_ACTION_DELIVER", ""},
                      {"OPT_ACTION_CANCEL", ""},
                      {"OPT_ACTION_REPLACE_ALL", ""},
                      {"OPT_ACTION_TAG_AND_DELIVER", ""}}},
        ReadRuleCase{"EveryIntegerTypeCounts",
                     R"({"SecurityLevelType": {"vt": 19, "value": 2}, "URLFilterActionType": {"vt": 23, "value": 3}})",
                     {{"OPT_SECURITY_LEVEL_LOW", "checked"},
                      {"OPT_SECURITY_LEVEL_HIGH", ""},
                      {"OPT_ACTION_TAG_AND_DELIVER", "checked"},
                      {"OPT_ACTION_DELIVER", ""}}},
        ReadRuleCase{"NumberStoredAsTextReadsZero",
                     R"({"SecurityLevelType": {"vt": 8, "value": "1"}})",
                     {{"OPT_SECURITY_LEVEL_HIGH", "checked"}, {"OPT_SECURITY_LEVEL_MEDIUM", ""}}},
        ReadRuleCase{"TextOfAnotherTypeIsEmpty",
                     R"({"ActionReplaceAll": {"vt": 3, "value": 7}, "ActionTagFrontNote": {"vt": 11, "value": -1}})",
                     {{"OPT_REPLACE_ALL_STRING", ""}, {"OPT_TAG_FRONT_STRING", ""}}},
        ReadRuleCase{"TextsAreEscaped",
                     R"({"ActionReplaceAll": {"vt": 8, "value": "<b>\"Tom & Jerry's\"</b>"},
                         "UFNotificationSettings": {"vt": 13, "value": {
                           "AdminSubject": {"vt": 8, "value": "a<b"},
                           "EnableSNMPNotify": {"vt": 11, "value": -1},
                           "EnableEventLog": {"vt": 11, "value": 0}}}})",
                     {{"OPT_REPLACE_ALL_STRING", "&lt;b&gt;&quot;Tom &amp; Jerry&#39;s&quot;&lt;/b&gt;"},
                      {"TEXT_ADMIN_SUBJECT", "a&lt;b"},
                      {"OPT_ENABLE_SNMP_NOTIFY_CHECKED", "checked"},
                      {"OPT_ENABLE_EVENTLOG_NOTIFY_CHECKED", ""},
                      {"OPT_ENABLE_SENDER_IM_NOTIFY_CHECKED", Unwritten("OPT_ENABLE_SENDER_IM_NOTIFY_CHECKED")},
                      {"TEXT_SENDER_MESSAGE", ""}}}),
    [](const testing::TestParamInfo<ReadRuleCase>& case_info) { return std::string(case_info.param.name); });

TEST_F(SettingsPageTest, ApprovedListFlagIsLoggedOnlyWhenItCounts) {
    const std::string line_true = "258 .\\web_PageCB_URLFilter:785 wmi enable approved list: 1";
    const std::string line_false = "258 .\\web_PageCB_URLFilter:785 wmi enable approved list: 0";
    const struct {
        const char* json;
        const char* placeholder;
        const std::string* line;
    } cases[] = {
        {R"({"EnableApprovedList": {"vt": 11, "value": -1}})", "checked", &line_true},
        {R"({"EnableApprovedList": {"vt": 11, "value": 0}})", "", &line_false},
        {R"({"EnableApprovedList": {"vt": 3, "value": 1}})", "$$ENABLE_APPROVED_LIST$$", nullptr},
    };
    for (const auto& test : cases) {
        harness_.ReplaceInstance(L"QZ_UrlFilter", L"URL_FILTER", test.json);
        const auto before = harness_.DebugRecords().size();
        EXPECT_EQ(Show().at("ENABLE_APPROVED_LIST"), test.placeholder) << test.json;
        const auto records = harness_.DebugRecordsFrom(before);
        const bool logged = std::any_of(records.begin(), records.end(), [](const std::string& record) {
            return record.find("wmi enable approved list") != std::string::npos;
        });
        EXPECT_EQ(logged, test.line != nullptr) << test.json;
        if (test.line != nullptr) {
            EXPECT_NE(std::find(records.begin(), records.end(), *test.line), records.end()) << test.json;
        }
    }
}

struct ListCase {
    const char* name;
    std::string list_json;  // the whole UF_APPROVED_LIST instance
    std::string options;
};

void PrintTo(const ListCase& list_case, std::ostream* out) { *out << list_case.name; }

class ApprovedListDisplayTest : public SettingsPageTest, public testing::WithParamInterface<ListCase> {};

// The page shows the stored list in its stored order through the entry rule.
// The rule's own cases are the shared table's (tests/data), run through the
// save; these are what the page adds: the stored order, kinds, the cut at
// ";", the escaping, the limits of each form of entry.
TEST_P(ApprovedListDisplayTest, ShowsTheStoredListThroughTheEntryRule) {
    harness_.ReplaceInstance(L"QZ_UFApprovedLists", L"UF_APPROVED_LIST", GetParam().list_json);
    EXPECT_EQ(Show().at("APPROVED_LIST_ENTRIES"), GetParam().options);
}

// A stored list of UTF-8 entries, as the store's JSON holds it.
std::string Stored(const std::vector<std::string>& entries) {
    return R"({"ApprovedLists": {"vt": 8200, "value": )" + nlohmann::json(entries).dump() + "}}";
}

std::string Options(const std::vector<std::string>& entries) {
    std::string text = "\n";
    for (const std::string& entry : entries) {
        text += "<option value=\"" + entry + "\">" + entry + "</option>";
    }
    return text;
}

std::string Letters(std::size_t count) { return std::string(count, 'a'); }

INSTANTIATE_TEST_SUITE_P(
    Display, ApprovedListDisplayTest,
    testing::Values(ListCase{"EmptyList", Stored({}), "\n"}, ListCase{"AbsentList", R"({})", "\n"},
                    ListCase{"ListOfAnotherType", R"({"ApprovedLists": {"vt": 8, "value": "a.com"}})", "\n"},
                    ListCase{"StoredOrderKept", Stored({"z.com", "www.a.com", "*.m.com"}),
                             Options({"*.z.com", "www.a.com", "*.m.com"})},
                    ListCase{"EmptyAndStarOnlyHidden", Stored({"", "*.", "b.com"}), Options({"*.b.com"})},
                    ListCase{"WwwAloneAccepted", Stored({"www."}), Options({"www."})},
                    ListCase{"UrlWithSchemeIsPlain", Stored({"http://a.com/x?y"}), Options({"*.http://a.com/x?y"})},
                    ListCase{"WwwThenStarWww", Stored({"www.a.com", "*.www.a.com"}), Options({"www.a.com"})},
                    ListCase{"BlanksAreKept", Stored({" a.com", "a.com"}), Options({"*. a.com", "*.a.com"})},
                    ListCase{"Plain253ShownPlain254Not", Stored({Letters(253), "b" + Letters(253)}),
                             Options({"*." + Letters(253)})},
                    ListCase{"Www255ShownWww256Not", Stored({"www." + Letters(251), "www.b" + Letters(251)}),
                             Options({"www." + Letters(251)})},
                    ListCase{"Star255ShownStar256Not", Stored({"*." + Letters(253), "*.b" + Letters(253)}),
                             Options({"*." + Letters(253)})},
                    ListCase{"SemicolonCutsIntoOptions", Stored({"x.com;y.com"}), Options({"*.x.com", "y.com"})},
                    ListCase{"EntriesEscapedInValueAndLabel", Stored({"a\"b<c>&'.com"}),
                             Options({"*.a&quot;b&lt;c&gt;&amp;&#39;.com"})}),
    [](const testing::TestParamInfo<ListCase>& case_info) { return std::string(case_info.param.name); });

struct PolicyIdCase {
    const wchar_t* posted;  // null: no field
    const char* shown;
    bool reads_settings;
};

TEST_F(SettingsPageTest, PolicyInstanceIdChoosesWhatIsShown) {
    harness_.ReplaceInstance(L"QZ_UrlFilter", L"URL_FILTER", R"({"ActionReplaceAll": {"vt": 8, "value": "first"}})");
    harness_.ReplaceInstance(L"QZ_UrlFilter", L"URL_FILTER_FILE",
                             R"({"ActionReplaceAll": {"vt": 8, "value": "second"}})");
    const PolicyIdCase cases[] = {
        {nullptr, "URL_FILTER", true},
        {L"", "URL_FILTER", true},
        {L"URL_FILTER_FILE", "URL_FILTER_FILE", true},
        {L"url_filter", "url_filter", false},  // instance names match exactly
        {L"<x\"y>", "&lt;x&quot;y&gt;", false},
    };
    for (const PolicyIdCase& test : cases) {
        Fields fields;
        if (test.posted != nullptr) {
            fields.emplace_back(L"txtPolicyInstanceId", test.posted);
        }
        const auto before = harness_.DebugRecords().size();
        const auto values = Show(fields);
        EXPECT_EQ(values.at("WTP_INSTANCE_ID"), test.shown);
        EXPECT_EQ(values.at("FORM_ACTION"), "/console/scan/WebThreat_Protection.htm");
        EXPECT_EQ(values.at("IMPORT_APPROVED_LIST_PAGE"), "/console/scan/WebThreatProtection_Import.htm");
        EXPECT_EQ(values.at("EXPORT_APPROVED_LIST_PAGE"), "/console/scan/WebThreatProtection_Export.htm");
        const std::string replace_text = std::string(test.shown) == "URL_FILTER_FILE" ? "second" : "first";
        EXPECT_EQ(values.at("OPT_REPLACE_ALL_STRING"),
                  test.reads_settings ? replace_text : Unwritten("OPT_REPLACE_ALL_STRING"))
            << test.shown;
        const auto records = harness_.DebugRecordsFrom(before);
        const std::string failure =
            std::string("4099 .\\web_PageCB_URLFilter:935 Failed to get CMgmtObject (QZ_UrlFilter:") + test.shown + ")";
        EXPECT_EQ(std::find(records.begin(), records.end(), failure) != records.end(), !test.reads_settings)
            << test.shown;
        // The approved list is shown in every case.
        EXPECT_NE(values.at("APPROVED_LIST_ENTRIES"), Unwritten("APPROVED_LIST_ENTRIES"));
    }
}

TEST_F(SettingsPageTest, FailedReadsLeaveTheirRowsAndLogTheObject) {
    harness_.Store().FailGet(L"QZ_UrlFilter", L"URL_FILTER");
    auto before = harness_.DebugRecords().size();
    auto values = Show();
    EXPECT_EQ(values.at("WTP_INSTANCE_ID"), "URL_FILTER");
    EXPECT_EQ(values.at("ENABLE_URL_FILTER"), Unwritten("ENABLE_URL_FILTER"));
    EXPECT_EQ(values.at("TEXT_RECIPIENT_MESSAGE"), Unwritten("TEXT_RECIPIENT_MESSAGE"));
    EXPECT_NE(values.at("APPROVED_LIST_ENTRIES"), Unwritten("APPROVED_LIST_ENTRIES"));
    auto records = harness_.DebugRecordsFrom(before);
    EXPECT_NE(std::find(records.begin(), records.end(),
                        "4099 .\\web_PageCB_URLFilter:935 Failed to get CMgmtObject (QZ_UrlFilter:URL_FILTER)"),
              records.end());
    EXPECT_EQ(records[records.size() - 3], "273 .\\web_PageCB_URLFilter:1033 CPageCB_URLFilter::ShowURLFilterPage()");

    harness_.Store().ClearFailures();
    harness_.Store().FailGet(L"QZ_UFApprovedLists", L"UF_APPROVED_LIST");
    before = harness_.DebugRecords().size();
    values = Show();
    EXPECT_EQ(values.at("APPROVED_LIST_ENTRIES"), Unwritten("APPROVED_LIST_ENTRIES"));
    EXPECT_NE(values.at("ENABLE_URL_FILTER"), Unwritten("ENABLE_URL_FILTER"));
    records = harness_.DebugRecordsFrom(before);
    EXPECT_NE(std::find(records.begin(), records.end(),
                        "4099 .\\web_PageCB_URLFilter:1026 Failed to get CMgmtObject "
                        "(QZ_UFApprovedLists:UF_APPROVED_LIST)"),
              records.end());
    EXPECT_TRUE(harness_.Audit().empty());  // showing is no administrative action
}

}  // namespace
