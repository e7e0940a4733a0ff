// The approved URL entry rule, case by case.
#include "approved_url_rule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tessera::pages::ApprovedEntryPass;

std::vector<std::wstring> RunPass(const std::vector<std::wstring>& entries) {
    ApprovedEntryPass pass;
    std::vector<std::wstring> accepted;
    for (const std::wstring& entry : entries) {
        std::wstring canonical;
        if (pass.AppendCanonical(entry, canonical)) {
            accepted.push_back(canonical);
        }
    }
    return accepted;
}

std::wstring Letters(std::size_t count) { return std::wstring(count, L'a'); }

struct RuleCase {
    const char* name;
    std::vector<std::wstring> entries;
    std::vector<std::wstring> accepted;
};

class ApprovedEntryRuleTest : public testing::TestWithParam<RuleCase> {};

TEST_P(ApprovedEntryRuleTest, AcceptsAndCanonicalises) {
    EXPECT_EQ(RunPass(GetParam().entries), GetParam().accepted);
}

// U+1F600 takes two UTF-16 code units on every platform.
const std::wstring kAstral = L"\U0001F600";

INSTANTIATE_TEST_SUITE_P(
    Rule, ApprovedEntryRuleTest,
    testing::Values(
        RuleCase{"StarAloneHasEmptyKey", {L"*."}, {}},
        RuleCase{"EmptyEntryDropped", {L""}, {}},
        RuleCase{"WwwAloneAccepted", {L"www."}, {L"www."}},
        RuleCase{"PlainGetsStarPrefix", {L"a.com"}, {L"*.a.com"}},
        RuleCase{"UrlWithSchemeIsPlain", {L"http://a.com/x?y"}, {L"*.http://a.com/x?y"}},
        RuleCase{"PlainThenStarSameKey", {L"a.com", L"*.a.com", L"*.A.COM"}, {L"*.a.com"}},
        RuleCase{"StarCapitalsFirstWins", {L"*.A.COM", L"a.com", L"*.a.com"}, {L"*.A.COM"}},
        RuleCase{"StarBeforeWwwIsStar", {L"*.www.a.com", L"www.a.com"}, {L"*.www.a.com"}},
        RuleCase{"WwwThenStarWww", {L"www.a.com", L"*.www.a.com"}, {L"www.a.com"}},
        RuleCase{"WwwInCapitalsKeptAsIs", {L"WWW.A.com"}, {L"WWW.A.com"}},
        RuleCase{"StarPrefixInAnyCase", {L"*.x", L"*.X"}, {L"*.x"}},
        RuleCase{"OnlyAsciiLettersFold", {L"\u00c9.com", L"\u00e9.com"}, {L"*.\u00c9.com", L"*.\u00e9.com"}},
        RuleCase{"BlanksAreKept", {L" a.com", L"a.com"}, {L"*. a.com", L"*.a.com"}},
        RuleCase{"Plain253Accepted", {Letters(253)}, {L"*." + Letters(253)}},
        RuleCase{"Plain254Dropped", {Letters(254)}, {}},
        RuleCase{"Www255Accepted", {L"www." + Letters(251)}, {L"www." + Letters(251)}},
        RuleCase{"Www256Dropped", {L"www." + Letters(252)}, {}},
        RuleCase{"Star255Accepted", {L"*." + Letters(253)}, {L"*." + Letters(253)}},
        RuleCase{"Star256Dropped", {L"*." + Letters(254)}, {}},
        RuleCase{"AstralCountsTwoAtLimit", {Letters(251) + kAstral}, {L"*." + Letters(251) + kAstral}},
        RuleCase{"AstralCountsTwoPastLimit", {Letters(252) + kAstral}, {}}),
    [](const testing::TestParamInfo<RuleCase>& case_info) { return std::string(case_info.param.name); });

TEST(ApprovedEntryRule, RejectedEntryLeavesOutputAlone) {
    ApprovedEntryPass pass;
    std::wstring out = L"kept;";
    EXPECT_TRUE(pass.AppendCanonical(L"a.com", out));
    EXPECT_FALSE(pass.AppendCanonical(L"A.COM", out));
    EXPECT_FALSE(pass.AppendCanonical(L"*.", out));
    EXPECT_EQ(out, L"kept;*.a.com");
}

}  // namespace
