// A settings page template that shows every placeholder's value, for tests
// that read what the page wrote.
#pragma once

#include "plugin_harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessera::test {

inline const std::vector<std::string> kSettingsPlaceholders = {
    "BASE_URL",
    "FORM_ACTION",
    "IMPORT_APPROVED_LIST_PAGE",
    "EXPORT_APPROVED_LIST_PAGE",
    "WTP_INSTANCE_ID",
    "ENABLE_URL_FILTER",
    "OPT_SECURITY_LEVEL_HIGH",
    "OPT_SECURITY_LEVEL_MEDIUM",
    "OPT_SECURITY_LEVEL_LOW",
    "ENABLE_APPROVED_LIST",
    "OPT_ACTION_CANCEL",
    "OPT_ACTION_REPLACE_ALL",
    "OPT_ACTION_TAG_AND_DELIVER",
    "OPT_ACTION_DELIVER",
    "OPT_REPLACE_ALL_STRING",
    "OPT_TAG_FRONT_STRING",
    "FILTER_ARCHIVE_CHECKED",
    "FILTER_NOT_ARCHIVE_CHECKED",
    "ENABLE_ACTION_TO_NO_RATING",
    "OPT_ENABLE_ADMIN_EMAIL_NOTIFY_CHECKED",
    "OPT_ENABLE_ADMIN_IM_NOTIFY_CHECKED",
    "OPT_ENABLE_SNMP_NOTIFY_CHECKED",
    "OPT_ENABLE_EVENTLOG_NOTIFY_CHECKED",
    "TEXT_ADMIN_SIP_ADDRESS",
    "TEXT_ADMIN_MAIL_ADDRESS",
    "TEXT_ADMIN_SUBJECT",
    "TEXT_ADMIN_MESSAGE",
    "OPT_ENABLE_SENDER_EMAIL_NOTIFY_CHECKED",
    "OPT_ENABLE_SENDER_IM_NOTIFY_CHECKED",
    "TEXT_SENDER_SUBJECT",
    "TEXT_SENDER_MESSAGE",
    "OPT_ENABLE_RECIPIENT_EMAIL_NOTIFY_CHECKED",
    "OPT_ENABLE_RECIPIENT_IM_NOTIFY_CHECKED",
    "TEXT_RECIPIENT_SUBJECT",
    "TEXT_RECIPIENT_MESSAGE",
    "APPROVED_LIST_ENTRIES",
};

// The plug-in over probe templates of its three pages, in a folder of the test's own.
class SettingsProbeTest : public testing::Test {
protected:
    TempFolder web_root_{"tessera-probe-root"};
    PluginHarness harness_{
        WriteProbeTemplates(web_root_, {{L"scan/WebThreat_Protection.htm", kSettingsPlaceholders},
                                        {L"scan/WebThreatProtection_Import.htm", {"APPROVED_LIST", "FORM_ACTION", "BASE_URL"}},
                                        {L"scan/WebThreatProtection_Export.htm", {"APPROVED_LIST"}}})};
};

// "$$NAME$$": what a placeholder still holds when the page did not write it.
inline std::string Unwritten(const std::string& name) { return "$$" + name + "$$"; }

}  // namespace tessera::test
