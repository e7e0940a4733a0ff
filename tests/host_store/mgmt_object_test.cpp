// Store objects: only an existing instance, named exactly, can be got or put;
// what the pages do with them is tested through the plug-in.
#include "mgmt_object.h"
#include "store_fixture.h"

#include <string>
#include <utility>

namespace {

using tessera::host::PropertyBag;
using tessera::test::StoreTest;

using MgmtObjectTest = StoreTest;

TEST_F(MgmtObjectTest, OnlyExistingInstancesNamedExactlyCanBeGotOrPut) {
    const std::pair<const wchar_t*, const wchar_t*> missing[] = {
        {L"QZ_UrlFilter", L"url_filter"},
        {L"qz_urlfilter", L"URL_FILTER"},
        {L"QZ_UrlFilter", L"URL_FILTER "},
        {L"QZ_UrlFilter", L"UF_APPROVED_LIST"},
    };
    for (const auto& [class_name, instance_name] : missing) {
        CMgmtObject object(class_name, instance_name);
        EXPECT_FALSE(object.Get());
        EXPECT_EQ(object.GetPropertyValue(L"EnableURLFilter"), nullptr);
        object.SetPropertyValue(L"EnableURLFilter", true);
        EXPECT_FALSE(object.Put(false));
    }
    EXPECT_EQ(store_->List(nullptr, nullptr).size(), 6u);  // no Put created an instance
}

TEST_F(MgmtObjectTest, PutFailsBeforeGetAndOnceTheInstanceIsGone) {
    CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER_FILE");
    EXPECT_FALSE(policy.Put(false));
    ASSERT_TRUE(policy.Get());
    ASSERT_TRUE(store_->Delete(L"QZ_UrlFilter", L"URL_FILTER_FILE"));
    EXPECT_FALSE(policy.Put(false));
    PropertyBag properties;
    EXPECT_FALSE(store_->Load(L"QZ_UrlFilter", L"URL_FILTER_FILE", properties));
}

}  // namespace
