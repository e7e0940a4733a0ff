// Store objects as the pages use them: Get and Put over the SQLite store, live
// views of embedded objects and audit records.
#include "audit_log.h"
#include "cgi_request.h"
#include "mgmt_object.h"
#include "store_fixture.h"

#include <cwchar>
#include <string>
#include <utility>

namespace {

using tessera::host::PropertyBag;
using tessera::host::SetCurrentStore;
using tessera::host::SqliteStore;
using tessera::test::ResourceDir;
using tessera::test::StoreTest;

using MgmtObjectTest = StoreTest;

TEST_F(MgmtObjectTest, ValuesPutAreReadBackInTheirDeclaredKindsAfterReopening) {
    {
        CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
        ASSERT_TRUE(policy.Get());
        policy.SetPropertyValue(L"EnableArchive", 0);
        policy.SetPropertyValue(L"EnableActionToNoRatingURL", 1);
        policy.SetPropertyValue(L"EnableURLFilter", false);
        policy.SetPropertyValue(L"URLFilterActionType", 3);
        policy.SetPropertyValue(L"ActionTagFrontNote", L"Achtung – <b>");
        policy.SetPropertyValue(L"SecurityLevelType", _variant_t(true));  // stored as given
        ASSERT_TRUE(policy.Put(false));
    }
    SetCurrentStore(SqliteStore::Open(DatabaseFile(), ResourceDir()));
    CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
    ASSERT_TRUE(policy.Get());

    const struct { const wchar_t* name; VARTYPE vt; std::int32_t raw; } expected[] = {
        {L"EnableArchive", VT_BOOL, VARIANT_FALSE},     {L"EnableActionToNoRatingURL", VT_BOOL, VARIANT_TRUE},
        {L"EnableURLFilter", VT_BOOL, VARIANT_FALSE},   {L"URLFilterActionType", VT_I4, 3},
        {L"SecurityLevelType", VT_BOOL, VARIANT_TRUE},
    };
    for (const auto& test : expected) {
        SCOPED_TRACE(std::string(test.name, test.name + std::wcslen(test.name)));
        const _variant_t* value = policy.GetPropertyValue(test.name);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->vt, test.vt);
        EXPECT_EQ(test.vt == VT_BOOL ? value->boolVal : value->lVal, test.raw);
    }
    EXPECT_STREQ(policy.GetPropertyValue(L"ActionTagFrontNote")->bstrVal, L"Achtung – <b>");
}

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

TEST_F(MgmtObjectTest, EditsThroughALiveViewAreStoredByTheParentsPut) {
    {
        CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
        ASSERT_TRUE(policy.Get());
        CMgmtObjectBase notifications(policy.GetPropertyValue(L"UFNotificationSettings"), true);
        notifications.SetPropertyValue(L"EnableSNMPNotify", 1);
        notifications.SetPropertyValue(L"AdminSubject", L"New subject");
        const CMgmtObjectBase again(policy.GetPropertyValue(L"UFNotificationSettings"), true);
        EXPECT_STREQ(again.GetPropertyValue(L"AdminSubject")->bstrVal, L"New subject");
        ASSERT_TRUE(policy.Put(false));
    }
    CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
    ASSERT_TRUE(policy.Get());
    const CMgmtObjectBase notifications(policy.GetPropertyValue(L"UFNotificationSettings"), true);
    EXPECT_EQ(notifications.GetPropertyValue(L"EnableSNMPNotify")->vt, VT_BOOL);
    EXPECT_EQ(notifications.GetPropertyValue(L"EnableSNMPNotify")->boolVal, VARIANT_TRUE);
    EXPECT_STREQ(notifications.GetPropertyValue(L"AdminSubject")->bstrVal, L"New subject");
    EXPECT_EQ(notifications.GetPropertyValue(L"EnableEventLog")->boolVal, VARIANT_TRUE);  // untouched member
}

TEST_F(MgmtObjectTest, AuditRecordsCarryTheRequestContextInOrder) {
    CCGIRequestData request;
    request.SetPageID(L"scan/WebThreat_Protection.htm");
    request.SetSignedInUser(L"admin");
    OS::x_wstring user;
    OS::x_wstring address;
    OS::x_wstring page;
    InsertAuditLogHelperFunc(CCGIRequestDataHelper(&request), user, address, page);

    for (const wchar_t* message : {L"first", L"second", L"third"}) {
        ASSERT_TRUE(InsertAuditLog(user, address, page, EventType_ConfigurationChange, SourceType_WebConsole, message));
    }
    const auto records = store_->ReadAudit();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].message + records[1].message + records[2].message, L"firstsecondthird");
    EXPECT_LT(records[1].seq, records[2].seq);
    EXPECT_EQ(records[1].context[0] + L"|" + records[1].context[1] + L"|" + records[1].context[2],
              L"admin|local|scan/WebThreat_Protection.htm");
    EXPECT_EQ(records[1].event_type, EventType_ConfigurationChange);
    EXPECT_EQ(records[1].source_type, SourceType_WebConsole);

    SetCurrentStore(nullptr);
    EXPECT_FALSE(InsertAuditLog(user, address, page, EventType_ConfigurationChange, SourceType_WebConsole, L"x"));
}

}  // namespace
