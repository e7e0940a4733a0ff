// A settings page template that shows every placeholder's value, for tests
// that read what the page wrote.
#pragma once

#include "plugin_harness.h"
#include "temp_folder.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace tessera::test {

// The placeholders of the project's own settings template, in page order, so
// that the probe shows every value the real page is given.
inline std::vector<std::string> SettingsPlaceholders() {
    const std::string page = ReadWholeFile(SourceDir() / "web/html/scan/WebThreat_Protection.htm");
    const std::regex placeholder(R"(\$\$([A-Z_]+)\$\$)");
    std::vector<std::string> names;
    for (auto match = std::sregex_iterator(page.begin(), page.end(), placeholder); match != std::sregex_iterator();
         ++match) {
        if (std::find(names.begin(), names.end(), (*match)[1]) == names.end()) names.push_back((*match)[1]);
    }
    return names;
}

// The plug-in over probe templates of its three pages, in a folder of the test's own.
class SettingsProbeTest : public testing::Test {
protected:
    TempFolder web_root_{"tessera-probe-root"};
    PluginHarness harness_{
        WriteProbeTemplates(web_root_, {{L"scan/WebThreat_Protection.htm", SettingsPlaceholders()},
                                        {L"scan/WebThreatProtection_Import.htm", {"APPROVED_LIST", "FORM_ACTION", "BASE_URL"}},
                                        {L"scan/WebThreatProtection_Export.htm", {"APPROVED_LIST"}}})};
};

// "$$NAME$$": what a placeholder still holds when the page did not write it.
inline std::string Unwritten(const std::string& name) { return "$$" + name + "$$"; }

}  // namespace tessera::test
