// Page URLs: safe to stand unescaped in a page.
#include "cgi_request.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(PageUrls, EncodeWhatCouldBreakMarkupOrTheUrl) {
    CCGIRequestData request;
    request.SetBaseURL(L"/console/");
    const CCGIRequestDataHelper helper(&request);
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"scan/WebThreat_Protection.htm", L"/console/scan/WebThreat_Protection.htm"},
        {L"a b\"<>'.htm", L"/console/a%20b%22%3C%3E%27.htm"},
        {L"\u00E9\U0001F600", L"/console/%C3%A9%F0%9F%98%80"},
        {L"100%41", L"/console/100%2541"},
        {L"x\\y?z#w", L"/console/x%5Cy%3Fz%23w"},
        {L"line\nbreak\x7f", L"/console/line%0Abreak%7F"},
        {L"-._~!$&()*+,;=:@/", L"/console/-._~!$&()*+,;=:@/"},
    };
    for (const auto& [page_id, url] : cases) {
        EXPECT_EQ(std::wstring(helper.CreatePageUrl(page_id, nullptr)), url) << testing::PrintToString(page_id);
    }
    EXPECT_EQ(std::wstring(helper.CreatePageUrl(L"p.htm", L"a=1&b=%2F")), L"/console/p.htm?a=1&b=%2F");
    EXPECT_EQ(std::wstring(helper.CreatePageUrl(L"p.htm", L"a=<x y>")), L"/console/p.htm?a=%3Cx%20y%3E");
}

TEST(PageUrls, BaseUrlKeepsItsEscapesAndEncodesTheRest) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"https://host:8443/console/?x=%41#top", L"https://host:8443/console/?x=%41#top"},
        {L"/c\"onsole'/<b> \u00E9", L"/c%22onsole%27/%3Cb%3E%20%C3%A9"},
        {L"/50%/%zz%4", L"/50%25/%25zz%254"},
    };
    for (const auto& [base, expected] : cases) {
        CCGIRequestData request;
        request.SetBaseURL(base);
        EXPECT_EQ(std::wstring(request.GetBaseURL()), expected) << testing::PrintToString(base);
        EXPECT_EQ(std::wstring(CCGIRequestDataHelper(&request).GetBaseURL()), expected);
    }
}

}  // namespace
