// The in-memory store of the benchmark: the same contract as the SQLite store,
// without the disk. Not part of the shipped host library.
#pragma once

#include "mgmt_store.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tessera::host {

class MemoryStore : public StoreBackend {
public:
    explicit MemoryStore(Declarations declarations = {});

    bool Load(const std::wstring& class_name, const std::wstring& instance_name, PropertyBag& out) override;
    bool Save(const std::wstring& class_name, const std::wstring& instance_name,
              const PropertyBag& properties) override;
    bool AppendAudit(AuditRecord record) override;
    std::vector<AuditRecord> ReadAudit() override;
    std::vector<StoredInstance> List(const std::wstring* class_name, const std::wstring* instance_name) override;
    void Replace(const std::vector<StoredInstance>& instances) override;
    bool Delete(const std::wstring& class_name, const std::wstring& instance_name) override;
    const Declarations& ClassDeclarations() const override { return declarations_; }

private:
    using Key = std::pair<std::wstring, std::wstring>;
    std::mutex mutex_;
    Declarations declarations_;
    std::map<Key, PropertyBag> instances_;
    std::vector<AuditRecord> audit_;
};

}  // namespace tessera::host
