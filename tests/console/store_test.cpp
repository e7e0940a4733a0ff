// tessera-console store: dump filters, load and delete.
#include "console_fixture.h"
#include "console_store.h"
#include "postgres_server.h"

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

namespace tessera::test {
namespace {

// A store as a console that served for a while leaves it: a list of a million
// entries, ten thousand audit records with History, an account and a token.
TEST_F(StoreTest, ACopyIntoPostgresqlHoldsTheWholeStoreAndServesTheSamePages) {
    std::string list;
    for (int index = 0; index < 1'000'000; ++index) list += "host" + std::to_string(index) + ".example.com\n";
    ASSERT_EQ(Console({"list", "import", WriteFile("list.txt", list).string()}).exit_code, 0);
    ASSERT_EQ(Console({"user", "add", "auditor1", "--role", "auditor", "--generate-password"}).exit_code, 0);
    ASSERT_EQ(Console({"token", "create", "--user", "auditor1", "--name", "reports"}).exit_code, 0);
    {
        const auto store = host::ConsoleStore::Open(data_dir_ / "store.db", ResourceDir());
        ASSERT_TRUE(store
                        ->RunAction([&] {
                            for (int index = 0; index < 10'000; ++index) {
                                host::AuditRecord record;
                                record.message = L"record " + std::to_wstring(index);
                                store->AppendAudit(record);
                            }
                        })
                        .is_stored);
    }
    const std::string copy = PostgresServer::Shared().CreateDatabase();
    const ProcessResult copied = Console({"store", "copy", "--to", copy});
    ASSERT_EQ(copied.exit_code, 0) << copied.standard_error;
    EXPECT_NE(copied.standard_output.find("audit 1"), std::string::npos) << copied.standard_output;

    const auto both = [&](std::vector<std::string> arguments) {
        const ProcessResult original = Console(arguments);
        arguments.insert(arguments.end(), {"--store", copy});
        const ProcessResult copied_one = Console(arguments);
        EXPECT_EQ(original.exit_code, 0) << original.standard_error;
        EXPECT_EQ(copied_one.exit_code, 0) << copied_one.standard_error;
        return std::pair{original.standard_output, copied_one.standard_output};
    };
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"render", "--page", "scan/WebThreat_Protection.htm"},
             {"audit", "head"},
             {"audit"},
             {"user", "list"},
             {"token", "list"},
             {"store", "dump"},
         }) {
        const auto [original, copied_one] = both(command);
        EXPECT_FALSE(original.empty()) << command.front();
        EXPECT_TRUE(original == copied_one) << command.front() << " " << (command.size() > 1 ? command[1] : "");
    }
    const ProcessResult verified = Console({"audit", "verify", "--store", copy});
    EXPECT_EQ(verified.exit_code, 0) << verified.standard_output << verified.standard_error;

    const ProcessResult again = Console({"store", "copy", "--to", copy});
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_NE(again.standard_error.find("is not empty"), std::string::npos) << again.standard_error;
}

}  // namespace
}  // namespace tessera::test
