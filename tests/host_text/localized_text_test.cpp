// Localised texts: the shipped texts file, and reloading on Configure.
#include "host_config.h"
#include "localized_text.h"
#include "temp_folder.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void UseResourceDir(const std::filesystem::path& resource_dir) {
    tessera::host::HostSettings settings;
    settings.resource_dir = resource_dir;
    tessera::host::Configure(settings);
}

class LocalizedTextTest : public ::testing::Test {
protected:
    void TearDown() override { tessera::host::Configure({}); }
};

TEST_F(LocalizedTextTest, ShippedTextsHoldEveryIdThePagesUse) {
    UseResourceDir(tessera::test::ResourceDir());
    // Audit texts 859 and 862 take the policy description as their one "%s";
    // 860 and 861 are used as they stand, so they hold no "%" at all.
    const std::pair<unsigned int, const wchar_t*> cases[] = {{859, L"%s"}, {860, L""}, {861, L""}, {862, L"%s"}};
    for (const auto& [id, conversions] : cases) {
        const std::wstring text = KESTREL::LoadStringW(id);
        std::wstring found;
        for (std::size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 1)) {
            found += text.substr(at, 2);
        }
        EXPECT_FALSE(text.empty()) << id;
        EXPECT_EQ(found, conversions) << id;
    }
    const std::wstring file_policy = KESTREL::LoadString_W(1011);
    const std::wstring message_policy = KESTREL::LoadString_W(1012);
    EXPECT_FALSE(file_policy.empty());
    EXPECT_NE(file_policy, message_policy);
    EXPECT_EQ((file_policy + message_policy).find(L'%'), std::wstring::npos);
    EXPECT_TRUE(KESTREL::LoadStringW(1).IsEmpty());
}

TEST_F(LocalizedTextTest, ReloadsOnEveryConfigureOnly) {
    const tessera::test::TempFolder folder;
    folder.Write("texts.json", R"({"859": "first \u00e9", "860": 5, "x": "not an id"})");
    UseResourceDir(folder.path());
    EXPECT_EQ(std::wstring(KESTREL::LoadStringW(859)), L"first \u00E9");
    EXPECT_TRUE(KESTREL::LoadStringW(860).IsEmpty());

    folder.Write("texts.json", R"({"859": "second"})");
    EXPECT_EQ(std::wstring(KESTREL::LoadStringW(859)), L"first \u00E9");  // cached until configured again
    UseResourceDir(folder.path());
    EXPECT_EQ(std::wstring(KESTREL::LoadString_W(859)), L"second");

    folder.Write("texts.json", "{ broken");
    UseResourceDir(folder.path());
    EXPECT_TRUE(KESTREL::LoadStringW(859).IsEmpty());
}

}  // namespace
