// tessera-console user and passwd: accounts changed on the console's machine,
// the rules every change keeps, and their audit records.
#include "console_fixture.h"
#include "passwords.h"

namespace tessera::test {
namespace {

constexpr char kFirstPassword[] = "the first owner's long passphrase";
constexpr char kSecondPassword[] = "a second owner's long passphrase";

class UserTest : public ConsoleTest {
protected:
    // The command with --data, a first password in the environment and `input` on standard input.
    ProcessResult User(std::vector<std::string> arguments, const std::string& input = {}) const {
        arguments.insert(arguments.end(), {"--data", data_dir_.string()});
        ProcessOptions options;
        options.standard_input = input;
        options.environment = {{"TESSERA_ADMIN_PASSWORD", kFirstPassword}};
        return RunProcess(ConsolePath(), arguments, options);
    }
    std::string Listed() const { return User({"user", "list"}).standard_output; }
};

TEST_F(UserTest, RefusedChangesSayWhyAndChangeNothing) {
    ASSERT_EQ(User({"user", "add", "ed", "--role", "editor"}, "an editor's own passphrase\n").exit_code, 0);
    const std::string before = Listed();
    const struct {
        std::vector<std::string> arguments;
        std::string input;
        int exit_code;
        const char* says;
    } cases[] = {
        {{"user", "add", "bob", "--role", "editor"}, "too short\n", 2, "at least 12 characters"},
        {{"user", "add", "bob", "--role", "editor"}, "hello Bob, long enough\n", 2, "name"},
        {{"user", "add", "bob", "--role", "editor"}, "abcdefghijkl\n", 2, "dictionary"},
        {{"user", "add", "bob", "--role", "king"}, "", 2, "administrator, editor or auditor"},
        {{"user", "add", "no spaces", "--role", "editor"}, "a long enough passphrase\n", 1, "letters, digits"},
        {{"user", "add", "ED", "--role", "editor"}, "a long enough passphrase\n", 1, "\"ed\" already"},
        {{"user", "remove", "admin"}, "", 1, "\"admin\" is the last enabled administrator"},
        {{"user", "disable", "admin"}, "", 1, "\"admin\" is the last enabled administrator"},
        {{"user", "set-role", "admin", "editor"}, "", 1, "\"admin\" is the last enabled administrator"},
        {{"user", "remove", "nobody"}, "", 1, "there is no account \"nobody\""},
        {{"passwd", "ed"}, "short\n", 2, "at least 12 characters"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(testing::PrintToString(test.arguments));
        const ProcessResult result = User(test.arguments, test.input);
        EXPECT_EQ(result.exit_code, test.exit_code);
        EXPECT_TRUE(IsOneLine(result.standard_error)) << result.standard_error;
        EXPECT_NE(result.standard_error.find(test.says), std::string::npos) << result.standard_error;
    }
    EXPECT_EQ(Listed(), before);
    EXPECT_EQ(User({"audit", "--json", "--action", "account-added"}).standard_output.find("bob"), std::string::npos);
}

// The dictionary check refuses some random texts as systematic: a made
// password must never be one of them, or "--generate-password" fails by chance.
TEST(GeneratedPassword, EveryOneThePasswordRuleTakes) {
    for (int draw = 0; draw < 2000; ++draw) {
        const std::string password = console::GeneratePassword("audrey");
        ASSERT_EQ(console::PasswordProblem(password, "audrey"), std::nullopt) << password;
    }
}

TEST_F(UserTest, AccountsAreAddedChangedAndRemovedWhileAnAdministratorRemains) {
    // The first command of a fresh folder makes the first administrator.
    const ProcessResult first = User({"user", "list"});
    EXPECT_EQ(first.exit_code, 1) << "a command that only reads makes no data folder";
    ASSERT_EQ(User({"user", "add", "root2", "--role", "administrator"}, std::string(kSecondPassword) + "\n").exit_code,
              0);
    EXPECT_NE(Listed().find("admin                   administrator  enabled"), std::string::npos) << Listed();

    const ProcessResult made = User({"user", "add", "audrey", "--role", "auditor", "--generate-password"});
    ASSERT_EQ(made.exit_code, 0) << made.standard_error;
    EXPECT_NE(made.standard_output.find("Its password, shown only this once: "), std::string::npos);

    for (const std::vector<std::string>& change : std::vector<std::vector<std::string>>{
             {"user", "set-role", "audrey", "editor"},
             {"user", "disable", "admin"},
             {"user", "enable", "admin"},
             {"user", "set-role", "admin", "auditor"},
             {"user", "remove", "audrey"},
         }) {
        const ProcessResult result = User(change);
        EXPECT_EQ(result.exit_code, 0) << testing::PrintToString(change) << result.standard_error;
    }
    const std::string listed = Listed();
    EXPECT_NE(listed.find("admin                   auditor        enabled"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("audrey"), std::string::npos) << listed;
    EXPECT_EQ(User({"user", "remove", "root2"}).exit_code, 1) << "the last administrator now";

    EXPECT_EQ(User({"passwd", "root2"}, "a third passphrase of ours\n").exit_code, 0);
    const std::string audit = User({"audit"}).standard_output;
    for (const char* action : {"account-added", "role-changed", "account-disabled", "account-enabled",
                               "account-removed", "password-changed"}) {
        EXPECT_NE(audit.find(std::string("  ") + action + "  "), std::string::npos) << action << "\n" << audit;
    }
    EXPECT_NE(audit.find("local"), std::string::npos);
    for (const char* secret : {kFirstPassword, kSecondPassword, "a third passphrase"}) {
        EXPECT_EQ(audit.find(secret), std::string::npos);
        EXPECT_EQ(ReadWholeFile(data_dir_ / "store.db").find(secret), std::string::npos);
    }
}

}  // namespace
}  // namespace tessera::test
