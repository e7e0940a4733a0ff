// The approved list's export file and import page, through the plug-in.
#include "settings_probe.h"

#include "localized_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

namespace {

using namespace tessera::test;

using ApprovedListTransferTest = SettingsProbeTest;

struct ExportCase {
    const char* name;
    std::optional<std::wstring> posted;
    std::string file_line;  // the probe line of the list
};

class ExportTest : public ApprovedListTransferTest, public testing::WithParamInterface<ExportCase> {};

TEST_P(ExportTest, ListBecomesLinesExactlyAsReceived) {
    Fields fields;
    if (GetParam().posted) {
        fields.emplace_back(L"approved_list", *GetParam().posted);
    }
    const Response response = harness_.Render(L"SCAN/WebThreatProtection_EXPORT.htm", fields);
    ASSERT_EQ(response.result, 0);
    EXPECT_EQ(response.bytes,
              "Content-type: application/octet-stream\nContent-disposition: attachment; "
              "filename=ApprovedURLList.txt\n\nAPPROVED_LIST=[" +
                  GetParam().file_line + "]\n");
    const auto audit = harness_.Audit();
    ASSERT_EQ(audit.size(), 1u);
    EXPECT_EQ(audit[0].message, KESTREL::LoadStringW(860));
    EXPECT_EQ(audit[0].context[2], L"SCAN/WebThreatProtection_EXPORT.htm");
}

INSTANTIATE_TEST_SUITE_P(
    Export, ExportTest,
    testing::Values(ExportCase{"FinalSemicolonEndsWithLineFeed", L"*.a.com;www.b.com;c;", "*.a.com\nwww.b.com\nc\n"},
                    ExportCase{"NoFinalSemicolon", L"*.a.com;www.b.com;c", "*.a.com\nwww.b.com\nc"},
                    ExportCase{"TwoSemicolonsGiveAnEmptyLine", L"a;;b", "a\n\nb"},
                    ExportCase{"MarkupKeptAsReceived", L"<a>&\"b\"", "<a>&\"b\""},
                    ExportCase{"Utf8OfTheText", L"\u00e9\U0001F600;x", "\xc3\xa9\xf0\x9f\x98\x80\nx"},
                    ExportCase{"MissingField", std::nullopt, ""}),
    [](const testing::TestParamInfo<ExportCase>& case_info) { return std::string(case_info.param.name); });

struct ImportCase {
    const char* name;
    std::optional<std::wstring> uploaded;
    std::string list_value;
    bool audited;
};

class ImportTest : public ApprovedListTransferTest, public testing::WithParamInterface<ImportCase> {};

TEST_P(ImportTest, FileBecomesOneEscapedListValue) {
    Fields fields;
    if (GetParam().uploaded) {
        fields.emplace_back(L"txtFile", *GetParam().uploaded);
    }
    const Response response = harness_.Render(L"scan/WebThreatProtection_Import.htm", fields);
    ASSERT_EQ(response.result, 0);
    const auto values = ProbeValues(response.Body());
    EXPECT_EQ(values.at("APPROVED_LIST"), GetParam().list_value);
    EXPECT_EQ(values.at("FORM_ACTION"), "/console/scan/WebThreatProtection_Import.htm");
    EXPECT_EQ(values.at("BASE_URL"), "/console/");
    const auto audit = harness_.Audit();
    ASSERT_EQ(audit.size(), GetParam().audited ? 1u : 0u);
    if (GetParam().audited) {
        EXPECT_EQ(audit[0].message, KESTREL::LoadStringW(861));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Import, ImportTest,
    testing::Values(ImportCase{"LineFeeds", L"a.com\nb.com", "a.com\tb.com", true},
                    ImportCase{"LoneCarriageReturn", L"a.com\rb.com", "a.com\tb.com", true},
                    ImportCase{"CrLfAddsNoEmptyEntry", L"a.com\r\nb.com\r\n", "a.com\tb.com", true},
                    ImportCase{"OnlyLineBreaksStillAudited", L"\r\n\n", "", true},
                    ImportCase{"TrailingBlanksDropped", L"a.com\nb.com  \n\t\n", "a.com\tb.com", true},
                    ImportCase{"TabInsideALineStays", L"a\tb\nc", "a\tb\tc", true},
                    ImportCase{"DuplicatesAndOrderKept", L"b\na\nb", "b\ta\tb", true},
                    ImportCase{"BackslashDoubled", L"a\\b", "a\\\\b", true},
                    ImportCase{"QuotesEscapedForMarkupFirst", L"a\"b'<c>&", "a&quot;b&#39;&lt;c&gt;&amp;", true},
                    ImportCase{"EmptyField", L"", "", false}, ImportCase{"MissingField", std::nullopt, "", false}),
    [](const testing::TestParamInfo<ImportCase>& case_info) { return std::string(case_info.param.name); });

TEST_F(ApprovedListTransferTest, ImportLogsTheTextAsReceived) {
    const auto before = harness_.DebugRecords().size();
    harness_.Render(L"scan/WebThreatProtection_Import.htm", {{L"txtFile", L"a.com\r\nb\\c"}});
    const auto records = harness_.DebugRecordsFrom(before);
    EXPECT_NE(std::find(records.begin(), records.end(), "258 .\\web_PageCB_URLFilter:87 TXT STR ID a.com\\r\\nb\\\\c"),
              records.end());
    EXPECT_NE(std::find(records.begin(), records.end(),
                        "273 .\\web_PageCB_URLFilter:126 CPageCB_URLFilter::HandleImportAppURLListPage()"),
              records.end());
}

}  // namespace
