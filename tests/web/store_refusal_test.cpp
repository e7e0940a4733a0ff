// A store that refuses, each way it can: the save answers 503 with the cause,
// stores nothing, and the plug-in's own record of it stays visible as a change
// that was rolled back; once the cause is gone the next save is stored.
#include "web_fixture.h"

#include "process_runner.h"
#include "test_paths.h"

#include <sqlite3.h>

#include <sys/mount.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>

namespace tessera::test {
namespace {

constexpr char kRefusedText[] = "refused-text";

std::string SaveForm(const std::string& replace_text) {
    return "FormAction=save&txtPolicyInstanceId=URL_FILTER&txtDeliverAct_Replace=" + replace_text;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

void RunSql(const std::filesystem::path& database, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// A small file system of the test's own, so that it can be filled.
class SmallDisk {
public:
    SmallDisk() {
        if (::mount("tmpfs", folder_.path().c_str(), "tmpfs", 0, "size=4m,mode=0700") != 0) {
            error_ = std::strerror(errno);
        }
    }
    ~SmallDisk() {
        if (error_.empty()) ::umount2(folder_.path().c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    const std::string& Error() const { return error_; }
    const std::filesystem::path& Path() const { return folder_.path(); }

private:
    TempFolder folder_{"tessera-small-disk"};
    std::string error_;
};

// Another program's write transaction on the store, held while it lives.
class WriteLockHolder {
public:
    explicit WriteLockHolder(const std::filesystem::path& database) {
        EXPECT_EQ(sqlite3_open(database.c_str(), &db_), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~WriteLockHolder() {
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }

private:
    sqlite3* db_ = nullptr;
};

void SetWritable(const std::filesystem::path& data_dir, bool is_writable) {
    using std::filesystem::perms;
    for (const auto& entry : std::filesystem::directory_iterator(data_dir)) {
        if (entry.is_regular_file()) {
            std::filesystem::permissions(entry.path(),
                                         is_writable ? perms::owner_read | perms::owner_write : perms::owner_read);
        }
    }
    std::filesystem::permissions(data_dir, is_writable ? perms::owner_all : perms::owner_read | perms::owner_exec);
}

struct Fault {
    const char* name;
    const char* cause;  // as the notice words it
    bool needs_small_disk;
    int page_status;  // of the settings page while the fault lasts
    // Makes the store refuse and returns what mends it.
    std::function<std::function<void()>(const std::filesystem::path& data_dir)> inflict;
};

const Fault kFaults[] = {
    {"Locked", "another program kept the store locked for longer than the console waits", false, 200,
     [](const std::filesystem::path& data_dir) -> std::function<void()> {
         auto holder = std::make_shared<WriteLockHolder>(data_dir / "store.db");
         return [holder]() mutable { holder.reset(); };
     }},
    {"Full", "the disk that holds the store is full", true, 200,
     [](const std::filesystem::path& data_dir) -> std::function<void()> {
         const std::filesystem::path filler = data_dir.parent_path() / "filler";
         std::ofstream out(filler, std::ios::binary);
         const std::string block(4096, 'x');
         while (out.write(block.data(), static_cast<std::streamsize>(block.size())).flush()) {}
         return [filler] { std::filesystem::remove(filler); };
     }},
    {"ReadOnlyThenWritable", "the store cannot be written: its file or folder is read-only", false, 200,
     [](const std::filesystem::path& data_dir) -> std::function<void()> {
         SetWritable(data_dir, false);
         return [data_dir] { SetWritable(data_dir, true); };
     }},
    {"DamagedObject", "a stored object cannot be decoded, the store is damaged", false, 503,
     [](const std::filesystem::path& data_dir) -> std::function<void()> {
         const std::filesystem::path store = data_dir / "store.db";
         const std::string where = " WHERE class = 'QZ_UrlFilter' AND instance = 'URL_FILTER'";
         RunSql(store, "CREATE TABLE kept AS SELECT properties FROM instances" + where);
         RunSql(store, "UPDATE instances SET properties = substr(properties, 1, 40) || x'00'" + where);
         return [store, where] {
             RunSql(store,
                    "UPDATE instances SET properties = (SELECT properties FROM kept)" + where + "; DROP TABLE kept");
         };
     }},
};

class StoreRefusal : public testing::TestWithParam<Fault> {};

TEST_P(StoreRefusal, TheSaveIs503StoresNothingAndItsRecordShowsItWasRolledBack) {
    const Fault& fault = GetParam();
    std::unique_ptr<SmallDisk> disk;
    ServeOptions options;
    options.environment = {{"TESSERA_STORE_BUSY_MS", "200"}};
    options.honours_permission_bits = true;
    // One worker, whose first look at the store (the session's) is under the
    // fault: a connection opened before would write on through a file that
    // has become read-only.
    options.extra_arguments = {"--threads", "1"};
    if (fault.needs_small_disk) {
        disk = std::make_unique<SmallDisk>();
        if (!disk->Error().empty()) GTEST_SKIP() << "mounting a small file system needs root: " << disk->Error();
        options.data_dir = disk->Path() / "var";
    }
    ConsoleServer console(options);
    const std::string stored = StoredPolicyText(console.DataDir(), "URL_FILTER", "ActionReplaceAll");
    // Sessions are in the store, so another console on its file signs in
    // before the fault (a sign-in writes) and this one honours the session.
    std::string cookie;
    {
        ServeOptions signer;
        signer.extra_arguments = {"--store", "sqlite:" + (console.DataDir() / "store.db").string()};
        cookie = ConsoleServer(signer).SignIn();
    }
    std::function<void()> mend = fault.inflict(console.DataDir());
    httplib::Client client = console.Client();
    const auto save = [&](const std::string& text) {
        return client.Post(kSettingsPath, console.FormHeaders(cookie), SaveForm(text),
                           "application/x-www-form-urlencoded");
    };
    const httplib::Result refused = save(kRefusedText);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_EQ(refused->get_header_value("Retry-After"), "5");
    EXPECT_NE(refused->body.find(std::string("role=\"alert\">The change was not stored: ") + fault.cause),
              std::string::npos)
        << refused->body.substr(0, 2000);
    EXPECT_EQ(refused->body.find(kRefusedText), std::string::npos) << "the page shows what is stored";
    EXPECT_FALSE(refused->has_header("X-Tessera-Outcome")) << "no outcome sentence for what was not stored";
    const httplib::Result page = client.Get(kSettingsPath, console.FormHeaders(cookie));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, fault.page_status);
    if (fault.page_status == 503) {
        EXPECT_NE(page->body.find("The settings cannot be read from the store: "), std::string::npos);
    }
    mend();

    EXPECT_EQ(StoredPolicyText(console.DataDir(), "URL_FILTER", "ActionReplaceAll"), stored);
    // The next action is tried afresh, whatever refused the last one.
    const httplib::Result mended = save("mended");
    ASSERT_TRUE(mended);
    EXPECT_EQ(mended->status, 200);
    EXPECT_EQ(StoredPolicyText(console.DataDir(), "URL_FILTER", "ActionReplaceAll"), "mended");

    // The plug-in's record of the refused save is kept as it wrote it ("... saved."), marked.
    EXPECT_EQ(AuditRecordCount(console.DataDir(), "save"), 2u);
    const std::string audit = RunConsole({"audit", "--action", "save", "--data", console.DataDir().string()});
    EXPECT_EQ(Occurrences(audit, "saved. [rolled back, not stored: " + std::string(fault.cause)), 1u) << audit;
    EXPECT_EQ(Occurrences(audit, "[rolled back"), 1u) << audit;
    // Kept aside while refused, it joined the chain in its order when stored.
    const std::string verified = RunConsole({"audit", "verify", "--data", console.DataDir().string()});
    EXPECT_EQ(verified.rfind("the audit chain is whole: ", 0), 0u) << verified;
    const httplib::Result history = client.Get("/history", console.FormHeaders(cookie));
    ASSERT_TRUE(history);
    EXPECT_EQ(history->status, 200);
    EXPECT_EQ(Occurrences(history->body, std::string("<strong>Not stored:</strong> this change was rolled back, "
                                                     "because ") +
                                             fault.cause),
              1u);
}

INSTANTIATE_TEST_SUITE_P(EachCause, StoreRefusal, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<Fault>& cause) { return std::string(cause.param.name); });

// The page that holds the policies, found by the instance's name in it.
std::streamoff PageHolding(const std::filesystem::path& store, const std::string& text) {
    std::ifstream in(store, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = bytes.rfind(text);
    if (at == std::string::npos) return -1;
    return static_cast<std::streamoff>(at / 4096 * 4096);
}

TEST(DamagedStore, ServeRefusesToStartAndNamesTheFileAndTheWayBack) {
    const TempFolder folder("tessera-damaged");
    ServeOptions options;
    options.data_dir = folder.path() / "var";
    ASSERT_EQ(ConsoleServer(options).Stop(), 0);
    const std::filesystem::path& data = options.data_dir;
    const std::filesystem::path store = data / "store.db";
    const std::streamoff page = PageHolding(store, "UF_APPROVED_LIST");
    ASSERT_GT(page, 0);
    {
        std::fstream file(store, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(page);
        file.write("\x0d\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 16);
    }
    try {
        ConsoleServer console(options);
        ADD_FAILURE() << "the console served a damaged store";
    } catch (const std::runtime_error& refused) {
        const std::string message = refused.what();
        EXPECT_NE(message.find(store.string() + " is damaged"), std::string::npos) << message;
        EXPECT_NE(message.find("tessera-console store check --data " + data.string()), std::string::npos) << message;
        EXPECT_NE(message.find("store load"), std::string::npos) << message;
    }
    const ProcessResult check = RunProcess(ConsolePath(), {"store", "check", "--data", data.string()});
    EXPECT_EQ(check.exit_code, 1);
    EXPECT_NE(check.standard_error.find(store.string() + " is damaged"), std::string::npos) << check.standard_error;
}

}  // namespace
}  // namespace tessera::test
