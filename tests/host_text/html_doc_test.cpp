// Template documents: confinement to the web root, placeholder filling,
// escaping for markup, and routing by page ID.
#include "cgi_request.h"
#include "host_config.h"
#include "html_doc.h"
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

TEST_F(HtmlDocTest, CheckedWritesTheAttributeOrNothing) {
    WriteTemplate("boxes.htm", "<input $$ON$$><input $$OFF$$><input $$RADIO$$>");
    CHtmlDoc document(L"boxes.htm");
    CHtmlDocHelper helper(&document);
    helper.SetChecked(L"$$ON$$", true);
    helper.SetChecked(L"$$OFF$$", false);
    helper.Checked(L"$$RADIO$$", true);
    EXPECT_STREQ(document.GetHtmlContent(), L"<input checked><input ><input checked>");
}

TEST(EscapeSpecialChar, EscapesEveryMarkupCharacterOnce) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"a&b<c>d\"e'f", L"a&amp;b&lt;c&gt;d&quot;e&#39;f"},
        {L"&amp;", L"&amp;amp;"},
        {L"<script>alert('x')</script>", L"&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
        {L"plain \u00E9 \\ $$X$$", L"plain \u00E9 \\ $$X$$"},
        {L"", L""},
    };
    for (const auto& [text, expected] : cases) {
        OS::x_wstring value(text);
        OS::x_wstring& result = CHtmlDocHelper::EscapeSpecialChar(value);
        EXPECT_EQ(&result, &value);
        EXPECT_EQ(std::wstring(value), expected) << testing::PrintToString(text);
    }
}

class CountingCallback : public CHtmlDocmentManager::CPageCallback {
public:
    void operator()(const CCGIRequestData* request, CHtmlDoc* document) override {
        ++calls;
        is_given_both = request == expected_request && document == expected_document;
    }
    int calls = 0;
    bool is_given_both = false;
    const CCGIRequestData* expected_request = nullptr;
    CHtmlDoc* expected_document = nullptr;
};

TEST(DocumentManager, CallsTheCallbackOfThePageWhateverItsLetterCase) {
    CHtmlDoc document(nullptr);
    CCGIRequestData request;
    CountingCallback first;
    CountingCallback replacement;
    first.expected_request = replacement.expected_request = &request;
    first.expected_document = replacement.expected_document = &document;
    {
        CHtmlDocmentManager manager;
        EXPECT_TRUE(manager.RegisterPage(L"scan/WebThreat_Protection.htm", &first));
        EXPECT_FALSE(manager.RegisterPage(nullptr, &first));
        const std::pair<const wchar_t*, int> requests[] = {{L"SCAN/webthreat_protection.HTM", 1}, {L"scan/Other.htm", 1}};
        for (const auto& [page_id, calls] : requests) {
            request.SetPageID(page_id);
            manager.ModifyContent(&request, &document);
            EXPECT_EQ(first.calls, calls) << testing::PrintToString(page_id);
        }
        EXPECT_TRUE(first.is_given_both);
        EXPECT_TRUE(manager.RegisterPage(L"Scan/WebThreat_Protection.htm", &replacement));
        request.SetPageID(L"scan/webthreat_protection.htm");
        manager.ModifyContent(&request, &document);
    }
    // The manager is gone; the callbacks (on the stack) were neither deleted nor called by it.
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(replacement.calls, 1);
}

}  // namespace
