// Provisioning: the schema, and the classes and instances a fresh store starts with.
#include "store_provisioning.h"
#include "audit_chain.h"
#include "store_json.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace tessera::host::sql {

namespace {

nlohmann::ordered_json ReadJsonFile(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::ostringstream text;
    text << stream.rdbuf();
    try {
        return nlohmann::ordered_json::parse(text.str());
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(file.string() + ": " + error.what());
    }
}

}  // namespace

void Provision(Database& database, const std::filesystem::path& resource_dir) {
    database.Write([&] {
        for (const char* sql : database.Schema()) {
            database.Run(sql);
        }
        if (database.Query(kCountDeclarations) != "0") {
            return true;
        }
        const std::filesystem::path classes_file = resource_dir / "classes.json";
        const std::filesystem::path provision_file = resource_dir / "provision.json";
        const nlohmann::ordered_json classes = ReadJsonFile(classes_file);
        std::vector<StoredInstance> instances;
        try {
            detail::DeclarationsFromJson(classes);  // checked here; the store keeps the text of each class
        } catch (const StoreFormatError& error) {
            throw std::runtime_error(classes_file.string() + ": " + error.what());
        }
        try {
            instances = detail::InstancesFromJson(ReadJsonFile(provision_file));
        } catch (const StoreFormatError& error) {
            throw std::runtime_error(provision_file.string() + ": " + error.what());
        }
        for (const auto& item : classes.items()) {
            Statement(database, kInsertDeclaration).Bind(1, item.key()).Bind(2, item.value().dump()).Step();
        }
        for (const StoredInstance& instance : instances) {
            Statement(database, kReplaceInstance)
                .Bind(1, OS::ToUtf8(instance.class_name))
                .Bind(2, OS::ToUtf8(instance.instance_name))
                .Bind(3, StoredTextOf(instance.properties).text)
                .Step();
        }
        return true;
    });
}

bool IsProvisioned(Database& database) {
    return database.Query(kHasEveryTable) == "2" && database.Query(kCountDeclarations) != "0";
}

void Upgrade(Database& database) {
    // Each check, then its statement, and what follows it, when the store lacks what it adds.
    struct Step {
        const char* check;
        const char* statement;
        void (*then)(Database&);
    };
    const Step upgrades[] = {
        {kHasAccountsTable, kCreateAccounts, nullptr},
        {kHasSecondFactorsTable, kCreateSecondFactors, nullptr},
        {kHasApiTokensTable, kCreateApiTokens, nullptr},
        {kHasRolledBackColumn, kAddRolledBackColumn, nullptr},
        {kHasVersionColumn, kAddVersionColumn, nullptr},
        {kHasChannelColumn, kAddChannelColumn, nullptr},
        {kHasTokenColumn, kAddTokenColumn, nullptr},
        {kHasChainColumn, kAddChainColumn, ChainEveryAuditRecord},
        {kHasAuditOutboxTable, kCreateAuditOutbox, [](Database& store) { store.Run(kFillAuditOutbox); }},
        {kHasAuditForwardingTable, kCreateAuditForwarding, nullptr},
        {kHasSessionsTable, kCreateSessions, nullptr},
        {kHasPasskeyChallengesTable, kCreatePasskeyChallenges, nullptr},
        {kHasSignInFailuresTable, kCreateSignInFailures, nullptr},
    };
    for (const Step& upgrade : upgrades) {
        if (database.Query(upgrade.check) == "0") {
            database.Write([&] {
                // Another console may have upgraded it since the check.
                if (database.Query(upgrade.check) != "0") return true;
                database.Run(upgrade.statement);
                if (upgrade.then != nullptr) upgrade.then(database);
                return true;
            });
        }
    }
}

Declarations ReadDeclarations(Database& database) {
    nlohmann::ordered_json classes = nlohmann::ordered_json::object();
    Statement select(database, kSelectDeclarations);
    while (select.Step()) {
        try {
            classes[select.Text(0)] = nlohmann::ordered_json::parse(select.Text(1));
        } catch (const nlohmann::json::exception& error) {
            throw StoreFormatError(select.Text(0) + ": " + error.what());
        }
    }
    return detail::DeclarationsFromJson(classes);
}

}  // namespace tessera::host::sql
