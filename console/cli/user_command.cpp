// tessera-console user, passwd and token: the administrators' accounts and
// their automation tokens, changed on the console's own machine. Each change
// keeps the accounts' rules (an enabled administrator always remains) and is
// audited as by "local".
#include "account_directory.h"
#include "commands.h"
#include "console_context.h"
#include "passwords.h"

#include <CLI/CLI.hpp>

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>

namespace tessera::console {
namespace {

struct UserOptions {
    CommonOptions common;
    std::string name;
    std::string role;
    bool is_password_generated = false;
};

struct TokenOptions {
    CommonOptions common;
    std::string user = kFirstAdministrator;
    std::string name;
    std::string scope = std::string(ScopeName(TokenScope::kRead));
    int days = kDefaultTokenDays;
    std::string id;
};

// Runs `work`, with the accounts' refusals as the command's exit status: a
// password the rule refuses is bad input (2), the rest a failure (1).
template <class Work>
auto WithAccountErrors(Work&& work) {
    try {
        return work();
    } catch (const PasswordRefused& refused) {
        throw CommandError(kExitUsage, refused.what());
    } catch (const AccountRefused& refused) {
        throw CommandError(kExitFailure, refused.what());
    } catch (const AccountNotStored& refused) {
        throw CommandError(kExitFailure, refused.what());
    }
}

Role RoleOption(const std::string& name) {
    const std::optional<Role> role = RoleOfName(name);
    if (!role) throw CommandError(kExitUsage, "a role is administrator, editor or auditor, not \"" + name + "\"");
    return *role;
}

std::string ReadLineWithoutEcho(const char* prompt) {
    const bool is_terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (is_terminal) {
        std::cerr << prompt << std::flush;
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (is_terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << "\n";
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// A new password from standard input, asked twice on a terminal.
std::string ReadNewPassword() {
    const std::string password = ReadLineWithoutEcho("New password: ");
    if (isatty(STDIN_FILENO) != 0 && ReadLineWithoutEcho("Repeat the new password: ") != password) {
        throw CommandError(kExitUsage, "the two passwords differ; nothing was changed");
    }
    return password;
}

// The store of the command's data folder, with its first administrator.
AccountDirectory OpenAccounts(const CommonOptions& common, DataFolderUse use) {
    AccountDirectory accounts(PrepareHost(common, use));
    std::cout << EnsureFirstAccount(accounts, common.data_dir);
    return accounts;
}

Actor CommandLine(const std::string& command) { return {kCommandLineActor, "", "tessera-console " + command}; }

void RunList(const UserOptions& options) {
    AccountDirectory accounts = OpenAccounts(options.common, DataFolderUse::kReadExisting);
    std::cout << std::left << std::setw(24) << "NAME" << std::setw(15) << "ROLE" << std::setw(10) << "STATE"
              << std::setw(22) << "CREATED"
              << "LAST SIGN-IN\n";
    for (const Account& account : accounts.List()) {
        std::cout << std::setw(24) << account.name << std::setw(15) << RoleName(account.role) << std::setw(10)
                  << (account.is_disabled ? "disabled" : "enabled") << std::setw(22) << account.created
                  << (account.last_sign_in.empty() ? "never" : account.last_sign_in) << "\n";
    }
}

void RunAdd(const UserOptions& options) {
    const Role role = RoleOption(options.role);
    AccountDirectory accounts = OpenAccounts(options.common, DataFolderUse::kCreate);
    const std::string password = options.is_password_generated ? GeneratePassword(options.name) : ReadNewPassword();
    WithAccountErrors([&] { accounts.Add(options.name, role, password, CommandLine("user add")); });
    std::cout << "Added \"" << options.name << "\" as " << RoleName(role) << ".\n";
    if (options.is_password_generated) {
        std::cout << "Its password, shown only this once: " << password << "\n";
    }
}

void RunPasswd(const UserOptions& options) {
    AccountDirectory accounts = OpenAccounts(options.common, DataFolderUse::kCreate);
    const char* from_environment = std::getenv(kAdminPasswordVariable);
    const bool is_from_environment =
        options.name == kFirstAdministrator && from_environment != nullptr && *from_environment != '\0';
    const std::string password = is_from_environment ? std::string(from_environment) : ReadNewPassword();
    WithAccountErrors([&] { accounts.SetPassword(options.name, password, CommandLine("passwd")); });
    std::cout << "The password of \"" << options.name << "\" was changed; its sessions end at their next request.\n";
}

// `user NAME-taking command`: one change of one account.
void AddChange(CLI::App& user, const char* name, const char* description,
               void (*change)(AccountDirectory&, const UserOptions&, const Actor&)) {
    auto options = std::make_shared<UserOptions>();
    CLI::App* command = user.add_subcommand(name, description);
    command->add_option("NAME", options->name, "The account")->required();
    if (std::string(name) == "set-role") {
        command->add_option("ROLE", options->role, "administrator, editor or auditor")->required();
    }
    AddCommonOptions(*command, options->common, false);
    command->callback([options, change, name] {
        AccountDirectory accounts = OpenAccounts(options->common, DataFolderUse::kReadExisting);
        WithAccountErrors([&] { change(accounts, *options, CommandLine(std::string("user ") + name)); });
        std::cout << "Done: " << name << " \"" << options->name << "\".\n";
    });
}

void RunTokenCreate(const TokenOptions& options) {
    const TokenScope scope = options.scope == ScopeName(TokenScope::kWrite) ? TokenScope::kWrite : TokenScope::kRead;
    AccountDirectory accounts = OpenAccounts(options.common, DataFolderUse::kCreate);
    const NewToken made = WithAccountErrors([&] {
        return accounts.CreateToken(options.user, options.name, scope, options.days, std::time(nullptr),
                                    CommandLine("token create"));
    });
    std::cout << "Token \"" << made.token.name << "\" of \"" << made.token.account << "\" (" << ScopeName(scope)
              << ", id " << made.token.id << ") until " << made.token.expires << ".\n"
              << "Send it as \"Authorization: Bearer TOKEN\"; it is shown only this once:\n"
              << made.secret << "\n";
}

void RunTokenList(const TokenOptions& options) {
    AccountDirectory accounts = OpenAccounts(options.common, DataFolderUse::kReadExisting);
    std::cout << std::left << std::setw(14) << "ID" << std::setw(20) << "ACCOUNT" << std::setw(24) << "NAME"
              << std::setw(7) << "SCOPE" << std::setw(22) << "EXPIRES"
              << "LAST USE\n";
    const std::string* account = options.user.empty() ? nullptr : &options.user;
    for (const ApiToken& token : accounts.Tokens(account)) {
        std::cout << std::setw(14) << token.id << std::setw(20) << token.account << std::setw(24) << token.name
                  << std::setw(7) << ScopeName(token.scope) << std::setw(22) << token.expires
                  << (token.last_used.empty() ? "never" : token.last_used + " from " + token.last_address) << "\n";
    }
}

}  // namespace

void AddTokenCommand(CLI::App& app) {
    CLI::App* token = app.add_subcommand("token", "The automation API's tokens");
    token->require_subcommand(1);

    auto create = std::make_shared<TokenOptions>();
    CLI::App* create_command =
        token->add_subcommand("create", "Make a token of an account and print it, only this once");
    create_command->add_option("--user", create->user, "The account it acts as")->capture_default_str();
    create_command->add_option("--name", create->name, "What it is for, unique among the account's tokens")->required();
    create_command->add_option("--scope", create->scope, "read, or write (changes what the account's role may)")
        ->check(CLI::IsMember({std::string(ScopeName(TokenScope::kRead)), std::string(ScopeName(TokenScope::kWrite))}))
        ->capture_default_str();
    create_command->add_option("--expires", create->days, "Days it lasts")
        ->check(CLI::Range(1, kMaxTokenDays))
        ->capture_default_str();
    AddCommonOptions(*create_command, create->common, false);
    create_command->callback([create] { RunTokenCreate(*create); });

    auto list = std::make_shared<TokenOptions>();
    list->user.clear();
    CLI::App* list_command = token->add_subcommand("list", "Name every token, its scope, expiry and last use");
    list_command->add_option("--user", list->user, "Only this account's");
    AddCommonOptions(*list_command, list->common, false);
    list_command->callback([list] { RunTokenList(*list); });

    auto revoke = std::make_shared<TokenOptions>();
    CLI::App* revoke_command = token->add_subcommand("revoke", "Revoke a token: it opens nothing from now on");
    revoke_command->add_option("ID", revoke->id, "As token list shows it")->required();
    AddCommonOptions(*revoke_command, revoke->common, false);
    revoke_command->callback([revoke] {
        AccountDirectory accounts = OpenAccounts(revoke->common, DataFolderUse::kReadExisting);
        WithAccountErrors([&] { accounts.RevokeToken(revoke->id, CommandLine("token revoke")); });
        std::cout << "Revoked " << revoke->id << ".\n";
    });
}

std::string EnsureFirstAccount(AccountDirectory& accounts, const std::filesystem::path& data_dir) {
    try {
        return WithAccountErrors([&] { return accounts.EnsureFirstAdministrator(data_dir); });
    } catch (const CommandError&) {
        throw;
    } catch (const std::exception& error) {
        throw CommandError(kExitFailure, error.what());
    }
}

void AddUserCommand(CLI::App& app) {
    CLI::App* user = app.add_subcommand("user", "The administrators' accounts");
    user->require_subcommand(1);

    auto list = std::make_shared<UserOptions>();
    CLI::App* list_command = user->add_subcommand("list", "Name every account, its role and state");
    AddCommonOptions(*list_command, list->common, false);
    list_command->callback([list] { RunList(*list); });

    auto add = std::make_shared<UserOptions>();
    CLI::App* add_command = user->add_subcommand("add", "Add an account; its password comes from standard input");
    add_command->add_option("NAME", add->name, "Letters, digits and . _ - @")->required();
    add_command->add_option("--role", add->role, "administrator, editor or auditor")->required();
    add_command->add_flag("--generate-password", add->is_password_generated,
                          "Make a password and print it once, instead of reading one");
    AddCommonOptions(*add_command, add->common, false);
    add_command->callback([add] { RunAdd(*add); });

    AddChange(*user, "set-role", "Give an account another role",
              [](AccountDirectory& accounts, const UserOptions& options, const Actor& actor) {
                  accounts.SetRole(options.name, RoleOption(options.role), actor);
              });
    AddChange(*user, "disable", "Keep an account from signing in; its sessions end",
              [](AccountDirectory& accounts, const UserOptions& options, const Actor& actor) {
                  accounts.SetEnabled(options.name, false, actor);
              });
    AddChange(*user, "enable", "Let a disabled account sign in again",
              [](AccountDirectory& accounts, const UserOptions& options, const Actor& actor) {
                  accounts.SetEnabled(options.name, true, actor);
              });
    AddChange(*user, "reset-two-factor", "Remove an account's authenticator app and recovery codes",
              [](AccountDirectory& accounts, const UserOptions& options, const Actor& actor) {
                  accounts.RemoveSecondFactors(options.name, actor);
              });
    AddChange(*user, "remove", "Remove an account",
              [](AccountDirectory& accounts, const UserOptions& options, const Actor& actor) {
                  accounts.Remove(options.name, actor);
              });

    auto passwd = std::make_shared<UserOptions>();
    passwd->name = kFirstAdministrator;
    CLI::App* passwd_command =
        app.add_subcommand("passwd", std::string("Set an account's password, from standard input (or ") +
                                         kAdminPasswordVariable + " for " + kFirstAdministrator + ")");
    passwd_command->add_option("NAME", passwd->name, "The account")->capture_default_str();
    AddCommonOptions(*passwd_command, passwd->common, false);
    passwd_command->callback([passwd] { RunPasswd(*passwd); });
}

}  // namespace tessera::console
