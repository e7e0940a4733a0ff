// tessera-console render: response bytes, page IDs, posted fields and field files.
#include "console_fixture.h"
#include "hosted_pages.h"
#include "list_options.h"
#include "os_string.h"

#include <fstream>
#include <iterator>

namespace tessera::test {
namespace {

const std::string kHtmlHeader = "Content-type: text/html; charset=utf-8\nAccept-Ranges: bytes\n\n";
const std::string kExportHeader =
    "Content-type: application/octet-stream\nContent-disposition: attachment; filename=ApprovedURLList.txt\n\n";
const std::string kExportPage = OS::ToUtf8(console::kExportPageId);

// The export response for `list_text`: the template with its placeholder filled.
std::string ExpectedExport(const std::string& list_text) {
    std::ifstream stream(SourceDir() / "web/html/scan/WebThreatProtection_Export.htm", std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (page.rfind("\xEF\xBB\xBF", 0) == 0) {
        page.erase(0, 3);
    }
    const std::string placeholder = "$$APPROVED_LIST$$";
    for (std::size_t at = page.find(placeholder); at != std::string::npos;
         at = page.find(placeholder, at + list_text.size())) {
        page.replace(at, placeholder.size(), list_text);
    }
    return kExportHeader + page;
}

using RenderTest = ConsoleTest;

// The console reads and posts the settings form by these names; a template
// that renamed one would leave the web console and the list commands posting
// fields that the plug-in ignores.
TEST_F(RenderTest, TheSettingsFormCarriesTheNamesTheConsoleUses) {
    const ProcessResult result = Console({"render", "--page", OS::ToUtf8(console::kSettingsPageId)});
    ASSERT_EQ(result.exit_code, 0) << result.standard_error;
    const std::string& page = result.standard_output;
    for (const wchar_t* field : {console::kFormActionField, console::kPolicyField, console::kApprovedListField}) {
        SCOPED_TRACE(OS::ToUtf8(field));
        EXPECT_NE(page.find("name=\"" + OS::ToUtf8(field) + "\""), std::string::npos);
    }
    EXPECT_TRUE(console::FindListBlock<char>(page).has_value());
}

// The base URL keeps its own escapes and has what could break the markup encoded.
TEST_F(RenderTest, SettingsAndImportPagesAreHtmlWithTheBaseUrl) {
    for (const std::string& page : {OS::ToUtf8(console::kSettingsPageId), OS::ToUtf8(console::kImportPageId)}) {
        SCOPED_TRACE(page);
        const ProcessResult result =
            Console({"render", "--page", page, "--base-url", "/tessera-admin/50%/\"<x9> \xC3\xA9%41/"});
        EXPECT_EQ(result.exit_code, 0) << result.standard_error;
        EXPECT_EQ(result.standard_output.substr(0, kHtmlHeader.size()), kHtmlHeader);
        EXPECT_NE(result.standard_output.find("/tessera-admin/50%25/%22%3Cx9%3E%20%C3%A9%41/"), std::string::npos);
        EXPECT_EQ(result.standard_output.find("<x9>"), std::string::npos);
    }
}

TEST_F(RenderTest, PageWithoutTemplateOrOutsideTheWebRootFails) {
    for (const std::string page : {"scan/NoSuchPage.htm", "..\\..\\etc\\passwd", "/etc/passwd"}) {
        SCOPED_TRACE(page);
        const ProcessResult result = Console({"render", "--page", page});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.standard_output, "");
        EXPECT_TRUE(IsOneLine(result.standard_error)) << result.standard_error;
    }
}

// The page reads the first value of a field, so the order shows in the
// output; a field file is decoded by its byte order mark.
TEST_F(RenderTest, FieldsAndFieldFilesKeepCommandLineOrder) {
    const std::string utf16 = std::string("\xFF\xFE\xE9\x00;\x00\xAC\x20", 8);
    const std::string file_field = "approved_list=" + WriteFile("list.txt", utf16).string();
    const ProcessResult file_first =
        Console({"render", "--page", kExportPage, "--field-file", file_field, "--field", "approved_list=from-arg"});
    const ProcessResult argument_first =
        Console({"render", "--page", kExportPage, "--field", "approved_list=from-arg", "--field-file", file_field});
    EXPECT_EQ(file_first.standard_output, ExpectedExport("\xC3\xA9\n\xE2\x82\xAC")) << file_first.standard_error;
    EXPECT_EQ(argument_first.standard_output, ExpectedExport("from-arg")) << argument_first.standard_error;
}

TEST_F(RenderTest, FieldFileOverTheUploadLimitIsAUsageError) {
    const std::string eleven_bytes = "approved_list=" + WriteFile("eleven", std::string(11, 'a')).string();
    for (const char* limit : {"11", "10"}) {
        const ProcessResult result =
            Console({"render", "--page", kExportPage, "--field-file", eleven_bytes, "--max-upload", limit});
        EXPECT_EQ(result.exit_code, limit == std::string("11") ? 0 : 2) << result.standard_error;
    }
}

}  // namespace
}  // namespace tessera::test
