// A fresh SQLite store, provisioned from the project's data folder and made
// the current one, in a folder of its own for each test that also holds the
// debug log.
#pragma once

#include "host_config.h"
#include "mgmt_store.h"
#include "sqlite_store.h"
#include "temp_folder.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tessera::test {

// Sets an environment variable for one scope, then restores it.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::HostSettings settings;
        settings.data_dir = folder_;  // the store's failures go to folder_/debug.log
        host::Configure(settings);
        store_ = host::SqliteStore::Open(DatabaseFile(), ResourceDir());
        host::SetCurrentStore(store_);
    }
    void TearDown() override {
        host::SetCurrentStore(nullptr);
        store_.reset();
        host::Configure(host::HostSettings{});
    }

    std::filesystem::path DatabaseFile() const { return folder_ / "store.db"; }

    TempFolder temp_{"tessera-host-store"};
    std::filesystem::path folder_ = temp_.path();
    std::shared_ptr<host::SqliteStore> store_;
};

}  // namespace tessera::test
