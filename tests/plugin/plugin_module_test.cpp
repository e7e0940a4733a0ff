// The plug-in as the console meets it: its exports, the response framing, the
// routing of page IDs and form actions, and the debug lines they write.
#include "cgi_request.h"
#include "plugin_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using tessera::test::Fields;
using tessera::test::PluginHarness;
using tessera::test::ProbeValues;
using tessera::test::TempFolder;
using tessera::test::WriteProbeTemplates;

const std::string kHtmlHeader = "Content-type: text/html; charset=utf-8\nAccept-Ranges: bytes\n\n";
const std::string kAttachmentHeader =
    "Content-type: application/octet-stream\nContent-disposition: attachment; filename=ApprovedURLList.txt\n\n";

bool HasRecord(const std::vector<std::string>& records, const std::string& record) {
    return std::find(records.begin(), records.end(), record) != records.end();
}

class PluginModuleTest : public testing::Test {
protected:
    TempFolder web_root_{"tessera-probe-root"};
    PluginHarness harness_{
        WriteProbeTemplates(web_root_, {{L"scan/WebThreat_Protection.htm", {"BASE_URL", "FORM_ACTION"}},
                                        {L"scan/WebThreatProtection_Import.htm", {"BASE_URL", "FORM_ACTION"}},
                                        {L"scan/WebThreatProtection_Export.htm", {"BASE_URL", "APPROVED_LIST"}},
                                        {L"scan/Unregistered.htm", {"BASE_URL", "FORM_ACTION"}},
                                        {L"scan/Empty.htm", {}}})};
};

struct HeaderCase {
    const wchar_t* page_id;
    const std::string* header;
    bool is_handled;  // a registered page: its callback runs and logs entry and exit
};

TEST_F(PluginModuleTest, EachPageGetsItsHeaderBlockAndExactLengthAndItsCallbackLogsEntryAndExit) {
    const HeaderCase cases[] = {
        {L"scan/WebThreat_Protection.htm", &kHtmlHeader, true},
        {L"scan/WebThreatProtection_Import.htm", &kHtmlHeader, true},
        {L"scan/WebThreatProtection_Export.htm", &kAttachmentHeader, true},
        {L"SCAN/WEBTHREATPROTECTION_EXPORT.HTM", &kAttachmentHeader, true},
        {L"scan/unregistered.htm", &kHtmlHeader, false},
        {L"scan/Empty.htm", &kHtmlHeader, false},  // the header block alone
    };
    for (const HeaderCase& test : cases) {
        const std::string page = OS::WCharToUTF8Char(test.page_id, nullptr);
        const auto before = harness_.DebugRecords().size();
        const auto response = harness_.Render(test.page_id);
        ASSERT_EQ(response.result, 0) << page;
        EXPECT_EQ(response.Header(), *test.header) << page;
        const auto records = harness_.DebugRecordsFrom(before);
        ASSERT_GE(records.size(), 2u) << page;
        EXPECT_EQ(records.front(), "272 .\\Tessera:134 WebUI_UIRequest()") << page;
        EXPECT_EQ(records.back(), "273 .\\Tessera:177 WebUI_UIRequest(), 0") << page;
        EXPECT_EQ(HasRecord(records, "272 .\\web_PageCB_URLFilter:50 CPageCB_URLFilter::operator()"), test.is_handled)
            << page;
        EXPECT_EQ(HasRecord(records, "273 .\\web_PageCB_URLFilter:78 CPageCB_URLFilter::operator()"), test.is_handled)
            << page;
    }
}

TEST_F(PluginModuleTest, MissingTemplateFailsAndLeavesOutputAlone) {
    const auto before = harness_.DebugRecords().size();
    CCGIRequestData request;
    request.SetPageID(L"scan/NoSuchPage.htm");
    char sentinel = 'x';
    char* output = &sentinel;
    EXPECT_EQ(harness_.Module().UIRequest(&request, &output), -1);
    EXPECT_EQ(output, &sentinel);
    EXPECT_EQ(
        harness_.DebugRecordsFrom(before),
        (std::vector<std::string>{"272 .\\Tessera:134 WebUI_UIRequest()", "273 .\\Tessera:177 WebUI_UIRequest(), -1"}));
}

TEST_F(PluginModuleTest, NullArgumentsAndUninitialisedModuleFail) {
    CCGIRequestData request;
    request.SetPageID(L"scan/WebThreat_Protection.htm");
    char* output = nullptr;
    EXPECT_EQ(harness_.Module().UIRequest(nullptr, &output), -1);
    EXPECT_EQ(harness_.Module().UIRequest(&request, nullptr), -1);

    EXPECT_EQ(harness_.Module().Deinitialize(), 0);
    EXPECT_EQ(harness_.Module().Deinitialize(), 0);
    const auto before = harness_.DebugRecords().size();
    EXPECT_EQ(harness_.Module().UIRequest(&request, &output), -1);
    EXPECT_EQ(output, nullptr);
    const auto records = harness_.DebugRecordsFrom(before);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], "272 .\\Tessera:134 WebUI_UIRequest()");
    EXPECT_EQ(records[1].rfind("4099 .\\Tessera:174 g_pHtmlDocManager(", 0), 0u) << records[1];
    EXPECT_NE(records[1].find(") is NULL"), std::string::npos) << records[1];
    EXPECT_EQ(records[2], "273 .\\Tessera:177 WebUI_UIRequest(), -1");

    // Initialising again brings the pages back.
    EXPECT_EQ(harness_.Module().Initialize(), 0);
    EXPECT_EQ(harness_.Module().Initialize(), 0);
    EXPECT_EQ(harness_.Render(L"scan/WebThreat_Protection.htm").result, 0);
}

struct ActionCase {
    const wchar_t* form_action;  // null: no field
    bool saves;
    bool resets;
};

TEST_F(PluginModuleTest, FormActionRunsBeforeThePageWhateverItsCase) {
    const ActionCase cases[] = {
        {L"save", true, false},   {L"SAVE", true, false},  {L"sAvE", true, false},
        {L"Reset", false, true},  {L"reset", false, true}, {L"RESET", false, true},
        {L"saved", false, false}, {L"", false, false},     {nullptr, false, false},
    };
    for (const ActionCase& test : cases) {
        const std::string label = test.form_action ? OS::WCharToUTF8Char(test.form_action, nullptr) : "(none)";
        Fields fields;
        if (test.form_action != nullptr) {
            fields.emplace_back(L"FormAction", test.form_action);
        }
        const auto before = harness_.DebugRecords().size();
        const auto audit_before = harness_.Audit().size();
        const auto response = harness_.Render(L"scan/WEBTHREAT_PROTECTION.HTM", fields);
        ASSERT_EQ(response.result, 0) << label;
        EXPECT_EQ(ProbeValues(response.Body())["BASE_URL"], "/console/") << label;

        const auto records = harness_.DebugRecordsFrom(before);
        const auto saved = std::find(records.begin(), records.end(),
                                     "272 .\\web_PageCB_URLFilter:152 CPageCB_URLFilter::SaveURLFilterSetting()");
        const auto reset = std::find(records.begin(), records.end(),
                                     "272 .\\web_PageCB_URLFilter:510 CPageCB_URLFilter::ResetURLFilterSetting()");
        const auto shown = std::find(records.begin(), records.end(),
                                     "272 .\\web_PageCB_URLFilter:725 CPageCB_URLFilter::ShowURLFilterPage()");
        EXPECT_EQ(saved != records.end(), test.saves) << label;
        EXPECT_EQ(reset != records.end(), test.resets) << label;
        ASSERT_NE(shown, records.end()) << label;
        EXPECT_TRUE((saved == records.end() || saved < shown) && (reset == records.end() || reset < shown)) << label;
        EXPECT_EQ(harness_.Audit().size() - audit_before, test.saves || test.resets ? 1u : 0u) << label;
    }
}

// No callback is registered for it, so the page callback never runs.
TEST_F(PluginModuleTest, UnregisteredPageIsRenderedAsOpened) {
    const auto before = harness_.DebugRecords().size();
    const auto response = harness_.Render(L"scan/Unregistered.htm", {{L"FormAction", L"save"}});
    ASSERT_EQ(response.result, 0);
    EXPECT_EQ(response.Body(), "BASE_URL=[$$BASE_URL$$]\nFORM_ACTION=[$$FORM_ACTION$$]\n");
    EXPECT_EQ(harness_.DebugRecordsFrom(before), (std::vector<std::string>{"272 .\\Tessera:134 WebUI_UIRequest()",
                                                                           "273 .\\Tessera:177 WebUI_UIRequest(), 0"}));
    EXPECT_TRUE(harness_.Audit().empty());
}

TEST_F(PluginModuleTest, ImportAndExportAreNotGivenTheBaseUrlByTheRouting) {
    const auto exported = harness_.Render(L"scan/WebThreatProtection_Export.htm", {{L"FormAction", L"save"}});
    EXPECT_EQ(ProbeValues(exported.Body())["BASE_URL"], "$$BASE_URL$$");
    // The import page fills it itself.
    const auto imported = harness_.Render(L"scan/webthreatprotection_import.htm", {{L"FormAction", L"Reset"}});
    EXPECT_EQ(ProbeValues(imported.Body())["BASE_URL"], "/console/");
    EXPECT_TRUE(HasRecord(harness_.DebugRecords(),
                          "273 .\\web_PageCB_URLFilter:147 CPageCB_URLFilter::HandleExportAppURLListPage()"));
    // Neither ran a form action: only the export's own record.
    ASSERT_EQ(harness_.Audit().size(), 1u);
}

}  // namespace
