// tessera-console list: the approved list out through the plug-in's export
// and in through its save, every other setting kept.
#include "console_fixture.h"

#include <algorithm>

namespace tessera::test {
namespace {

class ListTest : public ConsoleTest {
protected:
    void SetUp() override {
        // Settings whose every kind a form round trip could lose: a check box
        // off and one on, a radio choice, markup, quotes and a line break.
        const ProcessResult saved =
            Console({"render", "--page", "scan/WebThreat_Protection.htm", "--field", "FormAction=save", "--field",
                     "chkAdminSNMP=on", "--field", "rdoDeliverAct=AddNote", "--field",
                     "txtAdminMessage=<b>\"one\" & 'two'</b>\nthree", "--field", "stApprovedURL=a.example"});
        ASSERT_EQ(saved.exit_code, 0) << saved.standard_error;
    }
    nlohmann::json StoredList() const {
        return DumpStore({"QZ_UFApprovedLists",
                          "UF_APPROVED_LIST"})["QZ_UFApprovedLists"]["UF_APPROVED_LIST"]["ApprovedLists"]["value"];
    }
};

TEST_F(ListTest, ImportSavesTheFilesEntriesAndNothingElse) {
    const nlohmann::json policies = DumpStore({"QZ_UrlFilter"});
    // CR LF line ends, two entries on a line, a blank line, the same site in other letter case.
    const std::string file =
        WriteFile("in.txt", "b\u00fccher.example\r\nwww.c.example; d.example\n\nA.example\n").string();
    const ProcessResult added = Console({"list", "import", file});
    EXPECT_EQ(added.exit_code, 0) << added.standard_error;
    EXPECT_EQ(added.standard_output,
              "read 4 entries from " + file + "; saved: 3 entries added, 0 removed; the list holds 4 entries\n");
    EXPECT_EQ(StoredList(), nlohmann::json({"*.a.example", "*.b\u00fccher.example", "*.d.example", "www.c.example"}));
    EXPECT_EQ(DumpStore({"QZ_UrlFilter"}), policies) << "the settings of both policies are kept";

    const ProcessResult replaced = Console({"list", "import", "--replace", file});
    EXPECT_EQ(replaced.exit_code, 0) << replaced.standard_error;
    EXPECT_EQ(StoredList(), nlohmann::json({"*.A.example", "*.b\u00fccher.example", "*.d.example", "www.c.example"}));
    const std::string saves = Console({"audit", "--json", "--action", "save"}).standard_output;
    EXPECT_EQ(std::count(saves.begin(), saves.end(), '\n'), 3) << "each import is audited as a save";
    EXPECT_EQ(Console({"list", "import", (root_ / "missing.txt").string()}).exit_code, 2);
}

TEST_F(ListTest, ExportWritesTheListFileThroughTheExportAndAuditsIt) {
    const std::filesystem::path file = root_ / "out.txt";
    const ProcessResult written = Console({"list", "export", file.string()});
    EXPECT_EQ(written.exit_code, 0) << written.standard_error;
    EXPECT_EQ(written.standard_output, "exported 1 entry to " + file.string() + "\n");
    EXPECT_EQ(ReadWholeFile(file), "*.a.example\n");
    EXPECT_EQ(Console({"list", "export", "-"}).standard_output, "*.a.example\n");
    const nlohmann::json last = nlohmann::json::parse(Console({"audit", "--json", "--limit", "1"}).standard_output);
    EXPECT_EQ(last["action"], "export");
}

}  // namespace
}  // namespace tessera::test
