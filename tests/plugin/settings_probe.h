// A settings page template that shows every placeholder's value, for tests
// that read what the page wrote.
#pragma once

#include "plugin_harness.h"
#include "temp_folder.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tessera::test {

// The placeholders of the project's own settings template, in page order, so
// that the probe shows every value the real page is given.
inline std::vector<std::string> SettingsPlaceholders() {
    const std::string page = ReadWholeFile(SourceDir() / "web/html/scan/WebThreat_Protection.htm");
    std::vector<std::string> names;
    for (std::size_t start = page.find("$$"); start != std::string::npos; start = page.find("$$", start + 2)) {
        const std::size_t end = page.find("$$", start + 2);
        if (end == std::string::npos) break;
        const std::string name = page.substr(start + 2, end - start - 2);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        start = end;
    }
    return names;
}

// The plug-in over probe templates of its three pages, in a folder of the test's own.
class SettingsProbeTest : public testing::Test {
protected:
    TempFolder web_root_{"tessera-probe-root"};
    PluginHarness harness_{WriteProbeTemplates(
        web_root_, {{L"scan/WebThreat_Protection.htm", SettingsPlaceholders()},
                    {L"scan/WebThreatProtection_Import.htm", {"APPROVED_LIST", "FORM_ACTION", "BASE_URL"}},
                    {L"scan/WebThreatProtection_Export.htm", {"APPROVED_LIST"}}})};
};

// "$$NAME$$": what a placeholder still holds when the page did not write it.
inline std::string Unwritten(const std::string& name) { return "$$" + name + "$$"; }

}  // namespace tessera::test
