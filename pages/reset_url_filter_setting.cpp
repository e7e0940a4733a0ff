// Restoring defaults: a policy's defaults instance and the default approved
// list are copied over the live ones, then one audit record whatever failed.
#include "audit_record.h"
#include "mgmt_object.h"
#include "page_cb_url_filter.h"
#include "page_ids.h"
#include "page_log.h"
#include "url_filter_schema.h"

namespace {

using namespace tessera::pages;

constexpr unsigned int kResetAuditTextId = 862;

// Copies one value exactly as stored. A property that the defaults lack is left
// as the live object holds it.
void CopyStoredValue(const CMgmtObjectBase& from, CMgmtObjectBase& to, const wchar_t* property) {
    if (const _variant_t* value = from.GetPropertyValue(property)) {
        to.SetPropertyValue(property, *value);
    }
}

void ResetPolicy(const wchar_t* live_instance, const wchar_t* defaults_instance) {
    using namespace schema;
    CMgmtObject defaults(kUrlFilterClass, defaults_instance, nullptr);
    if (!defaults.Get()) {
        PageLog(kLogFailure, 666, L"Failed to get CMgmtObject (%s:%s)", kUrlFilterClass, defaults_instance);
        return;
    }
    CMgmtObject live(kUrlFilterClass, live_instance, nullptr);
    if (!live.Get()) {
        PageLog(kLogFailure, 658, L"Failed to get CMgmtObject (%s:%s)", kUrlFilterClass, live_instance);
        return;
    }
    for (const wchar_t* property : kPolicyProperties) {
        CopyStoredValue(defaults, live, property);
    }
    // The embedded object is not replaced as a whole: values it holds beyond
    // the listed ones stay.
    const CMgmtObjectBase default_notification(defaults.GetPropertyValue(kUFNotificationSettings), true);
    CMgmtObjectBase live_notification(live.GetPropertyValue(kUFNotificationSettings), true);
    for (const NotificationSetting& setting : kNotificationSettings) {
        CopyStoredValue(default_notification, live_notification, setting.property);
    }
    if (!live.Put(false)) {
        PageLog(kLogFailure, 650, L"Failed to call CMgmtObject::Put() (%s:%s)", kUrlFilterClass, live_instance);
    }
}

void ResetApprovedList() {
    using namespace schema;
    CMgmtObject defaults(kApprovedListsClass, kApprovedListDefaultInstance, nullptr);
    if (!defaults.Get()) {
        PageLog(kLogFailure, 703, L"Failed to get CMgmtObject (%s:%s)", kApprovedListsClass,
                kApprovedListDefaultInstance);
        return;
    }
    CMgmtObject live(kApprovedListsClass, kApprovedListInstance, nullptr);
    if (!live.Get()) {
        PageLog(kLogFailure, 695, L"Failed to get CMgmtObject (%s:%s)", kApprovedListsClass, kApprovedListInstance);
        return;
    }
    CopyStoredValue(defaults, live, kApprovedLists);
    if (!live.Put(false)) {
        PageLog(kLogFailure, 687, L"Failed to call CMgmtObject::Put() (%s:%s)", kApprovedListsClass,
                kApprovedListInstance);
    }
}

}  // namespace

void CPageCB_URLFilter::ResetURLFilterSetting(const CCGIRequestData* request, CHtmlDoc*) {
    using namespace schema;
    PageLog(kLogEnter, 510, L"CPageCB_URLFilter::ResetURLFilterSetting()");

    OS::x_wstring policy_instance_id;
    request->GetEnvVariable(kPolicyInstanceField, policy_instance_id, false);
    PageLog(kLogValue, 513, L"txrPolicyInstanceId: %s", policy_instance_id.c_str());

    // Unlike the page and the save, an empty id means the second policy here.
    const bool is_url_filter = policy_instance_id.CompareNoCase(kUrlFilterInstance) == 0;
    const wchar_t* const defaults_instance = is_url_filter ? kUrlFilterDefaultInstance : kUrlFilterFileDefaultInstance;
    policy_instance_id = is_url_filter ? kUrlFilterInstance : kUrlFilterFileInstance;
    const OS::x_wstring description = PolicyDescription(policy_instance_id);

    ResetPolicy(policy_instance_id, defaults_instance);
    // The approved list is restored whatever happened to the policy.
    ResetApprovedList();

    PageLog(kLogLeave, 710, L"CPageCB_URLFilter::ResetURLFilterSetting()");
    WriteAuditRecord(CCGIRequestDataHelper(request), kResetAuditTextId, &description);
}
