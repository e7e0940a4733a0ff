// A fresh store's tables and first contents, from the provisioning files.
#pragma once

#include "database.h"
#include "sql_text.h"

#include <filesystem>

namespace tessera::host::sql {

// Creates the tables and, when no class is declared yet, fills them from
// `resource_dir`/classes.json and `resource_dir`/provision.json, all in one
// transaction: of two processes starting at once, the second waits and then
// finds the work done.
void Provision(Database& database, const std::filesystem::path& resource_dir);

bool IsProvisioned(Database& database);

// Adds what later versions keep that a store made by an earlier one lacks.
void Upgrade(Database& database);

// The class declarations the store holds; throws StoreFormatError when one is unreadable.
Declarations ReadDeclarations(Database& database);

}  // namespace tessera::host::sql
