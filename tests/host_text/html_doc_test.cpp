// Template documents: confinement to the web root, UTF-8 reading and
// placeholder filling.
#include "html_doc.h"
#include "host_config.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using tessera::test::TempFolder;

class HtmlDocTest : public ::testing::Test {
protected:
    void SetUp() override {
        tessera::host::HostSettings settings;
        settings.web_root = web_root();
        tessera::host::Configure(settings);
        std::filesystem::create_directories(web_root());
    }
    void TearDown() override { tessera::host::Configure({}); }

    std::filesystem::path web_root() const { return folder_.path() / "www"; }

    void WriteTemplate(const std::string& relative, const std::string& bytes) const {
        folder_.Write(std::filesystem::path("www") / relative, bytes);
    }

    // The filled page of the template at `path`, or "(refused)" when it does not open.
    static std::wstring Opened(const wchar_t* path) {
        CHtmlDoc document(nullptr);
        if (document.Open(path) != 0) {
            EXPECT_EQ(document.GetHtmlContent(), nullptr);
            return L"(refused)";
        }
        return document.GetHtmlContent();
    }

    TempFolder folder_;
};

TEST_F(HtmlDocTest, OpensOnlyFilesInsideTheWebRoot) {
    WriteTemplate("web/html/scan/Page.htm", "page");
    folder_.Write("secret.htm", "secret");
    std::filesystem::create_symlink(folder_.path() / "secret.htm", web_root() / "link.htm");
    std::filesystem::create_directory_symlink(folder_.path(), web_root() / "linkdir");
    const std::wstring absolute = (web_root() / "web/html/scan/Page.htm").wstring();

    struct Case {
        const wchar_t* path;
        const wchar_t* content;
    };
    const Case cases[] = {
        {L"web\\html\\scan/Page.htm", L"page"},
        {L"WEB/Html/SCAN\\page.HTM", L"page"},
        {L"web/./html/scan/Page.htm", L"page"},
        {L"web/html/scan/../scan/Page.htm", L"(refused)"},
        {L"../secret.htm", L"(refused)"},
        {L"..\\secret.htm", L"(refused)"},
        {L"/etc/passwd", L"(refused)"},
        {L"\\secret.htm", L"(refused)"},
        {absolute.c_str(), L"(refused)"},
        {L"C:\\secret.htm", L"(refused)"},
        {L"C:secret.htm", L"(refused)"},
        {L"web//html/scan/Page.htm", L"(refused)"},
        {L"web/html/scan/Page.htm/", L"(refused)"},
        {L"link.htm", L"(refused)"},
        {L"linkdir/secret.htm", L"(refused)"},
        {L"LINKDIR/www/web/html/scan/Page.htm", L"page"},  // leaves and re-enters: the file is inside
        {L"web/html/scan/Missing.htm", L"(refused)"},
        {L"web/html/scan", L"(refused)"},
        {L".", L"(refused)"},
        {L"", L"(refused)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Opened(c.path), c.content) << testing::PrintToString(c.path);
    }
    EXPECT_EQ(Opened(nullptr), L"(refused)");
}

TEST_F(HtmlDocTest, PrefersTheExactNameAndDecodesUtf8) {
    WriteTemplate("Same.htm", "capital");
    WriteTemplate("same.htm", "\xEF\xBB\xBF<p>\xC3\xA9 \xFF</p>");
    EXPECT_EQ(Opened(L"same.htm"), L"<p>\u00E9 \uFFFD</p>");
    EXPECT_EQ(Opened(L"Same.htm"), L"capital");
    EXPECT_EQ(Opened(L"SAME.htm"), L"capital");  // "Same" sorts before "same" byte-wise
}

TEST_F(HtmlDocTest, RefusesTemplatesOverTheSizeLimitOrWithoutWebRoot) {
    tessera::host::HostSettings settings = tessera::host::CurrentSettings();
    settings.max_template_bytes = 16;
    tessera::host::Configure(settings);
    WriteTemplate("limit.htm", std::string(16, 'x'));
    WriteTemplate("over.htm", std::string(17, 'x'));
    EXPECT_EQ(Opened(L"limit.htm"), std::wstring(16, L'x'));
    EXPECT_EQ(Opened(L"over.htm"), L"(refused)");
    tessera::host::Configure({});
    EXPECT_EQ(Opened(L"limit.htm"), L"(refused)");
}

TEST_F(HtmlDocTest, SetFieldReplacesEveryOccurrenceButNeverInsertedText) {
    WriteTemplate("form.htm", "<a href=\"$$URL$$\">$$URL$$</a>$$NAME$$|$$A$$B$$");
    CHtmlDocHelper helper(nullptr);
    EXPECT_EQ(helper.SetField(L"$$URL$$", L"x"), 0);

    CHtmlDoc document(L"form.htm");
    EXPECT_EQ(document.SetField(L"$$URL$$", L"$$NAME$$"), 2);
    EXPECT_EQ(document.SetField(L"$$NAME$$", L"n"), 1);
    EXPECT_STREQ(document.GetHtmlContent(), L"<a href=\"$$NAME$$\">$$NAME$$</a>n|$$A$$B$$");
    // Once $$A$$ is gone, "B$$" must not join the "$$" before it into a new placeholder.
    EXPECT_EQ(document.SetField(L"$$A$$", L""), 1);
    EXPECT_EQ(document.SetField(L"$$B$$", L"wrong"), 0);
    EXPECT_EQ(document.SetField(L"$$MISSING$$", L"m"), 0);
    EXPECT_EQ(document.SetField(L"", L"m"), 0);
    EXPECT_STREQ(document.GetHtmlContent(), L"<a href=\"$$NAME$$\">$$NAME$$</a>n|B$$");
}

// A value with room for the whole page becomes the page's buffer; what was
// filled in before and after it must land around it, and stay there.
TEST_F(HtmlDocTest, ALargeValueWithRoomForThePageIsFilledInPlace) {
    WriteTemplate("big.htm", "head $$LIST$$ middle $$NAME$$ tail $$LATE$$.");
    CHtmlDoc document(L"big.htm");
    std::wstring list(1000, L'o');
    list += L"$$NAME$$";  // inserted text is never searched
    list.reserve(4096);
    EXPECT_EQ(document.SetField(L"$$LIST$$", std::move(list)), 1);
    EXPECT_EQ(document.SetField(L"$$NAME$$", L"n"), 1);
    const std::wstring list_shown = std::wstring(1000, L'o') + L"$$NAME$$";
    EXPECT_EQ(std::wstring(document.GetHtmlContent()), L"head " + list_shown + L" middle n tail $$LATE$$.");
    EXPECT_EQ(document.SetField(L"$$LATE$$", L"late"), 1);
    EXPECT_EQ(document.SetField(L"$$NAME$$", L"again"), 0);
    EXPECT_EQ(std::wstring(document.GetHtmlContent()), L"head " + list_shown + L" middle n tail late.");
}

}  // namespace
