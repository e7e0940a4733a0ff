// tessera-console store: dump filters, load and delete.
#include "console_fixture.h"

#include <set>

namespace tessera::test {
namespace {

std::set<std::string> Names(const nlohmann::json& object) {
    std::set<std::string> names;
    for (const auto& item : object.items()) {
        names.insert(item.key());
    }
    return names;
}

class StoreTest : public ConsoleTest {
protected:
    void SetUp() override { Provision(); }
};

TEST_F(StoreTest, DumpFiltersByClassAndInstance) {
    EXPECT_EQ(Names(DumpStore({"QZ_UrlFilter"})), std::set<std::string>{"QZ_UrlFilter"});
    const nlohmann::json one = DumpStore({"QZ_UrlFilter", "URL_FILTER_FILE"});
    EXPECT_EQ(Names(one["QZ_UrlFilter"]), std::set<std::string>{"URL_FILTER_FILE"});

    const ProcessResult missing = Console({"store", "dump", "QZ_UrlFilter", "NO_SUCH_POLICY"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_EQ(missing.standard_output, "");
}

TEST_F(StoreTest, LoadStoresValuesExactlyAsGiven) {
    nlohmann::json document = DumpStore({"QZ_UrlFilter", "URL_FILTER"});
    document["QZ_UrlFilter"]["URL_FILTER"]["EnableArchive"] = {{"vt", 3}, {"value", 1}};
    document["QZ_UrlFilter"]["URL_FILTER"]["ActionReplaceAll"] = {{"vt", 8}, {"value", "caf\xC3\xA9 <\"&\">"}};
    const ProcessResult load = Console({"store", "load", WriteFile("load.json", document.dump()).string()});
    ASSERT_EQ(load.exit_code, 0) << load.standard_error;

    const nlohmann::json reloaded = DumpStore({"QZ_UrlFilter", "URL_FILTER"});
    EXPECT_EQ(reloaded, document);
    EXPECT_EQ(reloaded["QZ_UrlFilter"]["URL_FILTER"]["EnableArchive"],
              nlohmann::json::parse(R"({"vt": 3, "value": 1})"));
}

TEST_F(StoreTest, MalformedLoadNamesThePlaceAndChangesNothing) {
    nlohmann::json half_bad = DumpStore();
    half_bad["QZ_UrlFilter"]["URL_FILTER"]["EnableURLFilter"] = {{"vt", 11}, {"value", 0}};
    half_bad["QZ_UrlFilter"]["URL_FILTER_FILE"]["EnableArchive"] = {{"vt", "eleven"}, {"value", 0}};
    const auto archive = [](const char* value) {
        return std::string(R"({"QZ_UrlFilter": {"URL_FILTER": {"EnableArchive": )") + value + "}}}";
    };
    const struct {
        std::string text;
        std::string message;
    } kFiles[] = {
        {"{\"QZ_UrlFilter\": {\"URL_FILTER\": {,}}}", "column"},
        {half_bad.dump(), "QZ_UrlFilter/URL_FILTER_FILE/EnableArchive"},
        {archive("true"), "QZ_UrlFilter/URL_FILTER/EnableArchive"},
        {R"({"QZ_UrlFilter": 5})", "QZ_UrlFilter: expected an object of instances"},
        {R"({"QZ_UrlFilter": {"URL_FILTER": {"": {"vt": 11, "value": 0}}}})",
         "QZ_UrlFilter/URL_FILTER: a name is empty"},
        {archive(R"({"vt": 11})"), "EnableArchive: expected both"},
        {archive(R"({"vt": 11, "value": 0, "x": 1})"), "EnableArchive: unexpected key \"x\""},
        {archive(R"({"vt": 11, "value": 40000})"), "EnableArchive: \"value\" 40000 is outside -32768 to 32767"},
        {archive(R"({"vt": 3, "value": 2147483648})"), "EnableArchive: \"value\" 2147483648 is outside"},
        {archive(R"({"vt": 19, "value": -1})"), "EnableArchive: \"value\" -1 is outside"},
        {archive(R"({"vt": 3, "value": 1.5})"), "EnableArchive: \"value\" is not a whole number"},
        {archive(R"({"vt": 8, "value": "a\u0000b"})"), "EnableArchive: the text holds a NUL"},
        {archive(R"({"vt": 8200, "value": ["a", 3]})"), "EnableArchive[1]: expected a text"},
        {archive(R"({"vt": 99, "value": 0})"), "EnableArchive: \"vt\" 99 is not one of"},
        {archive(R"({"vt": 13, "value": {"M": {"vt": 11, "value": "x"}}})"), "EnableArchive/M: \"value\" is not"},
    };
    const nlohmann::json before = DumpStore();
    for (const auto& file : kFiles) {
        SCOPED_TRACE(file.text);
        const ProcessResult load = Console({"store", "load", WriteFile("load.json", file.text).string()});
        EXPECT_EQ(load.exit_code, 2);
        EXPECT_TRUE(IsOneLine(load.standard_error)) << load.standard_error;
        EXPECT_NE(load.standard_error.find(file.message), std::string::npos) << load.standard_error;
    }
    EXPECT_EQ(DumpStore(), before);
}

TEST_F(StoreTest, DeleteRemovesOneInstanceAndFailsForAMissingOne) {
    const ProcessResult first = Console({"store", "delete", "QZ_UrlFilter", "URL_FILTER_FILE"});
    EXPECT_EQ(first.exit_code, 0) << first.standard_error;
    EXPECT_EQ(Names(DumpStore({"QZ_UrlFilter"})["QZ_UrlFilter"]),
              (std::set<std::string>{"URL_FILTER", "URL_FILTER_DEFAULT", "URL_FILTER_FILE_DEFAULT"}));

    const ProcessResult again = Console({"store", "delete", "QZ_UrlFilter", "URL_FILTER_FILE"});
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_NE(again.standard_error.find("QZ_UrlFilter/URL_FILTER_FILE"), std::string::npos) << again.standard_error;
}

}  // namespace
}  // namespace tessera::test
