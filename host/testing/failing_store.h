// A store that fails on demand: Get and Put of named instances fail while the
// rest goes to the real store beneath, for the paths a real store cannot be
// made to take when a test asks. Not part of the shipped host library.
#pragma once

#include "mgmt_store.h"

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tessera::host {

class FailingStore : public StoreBackend {
public:
    explicit FailingStore(std::shared_ptr<StoreBackend> real) : real_(std::move(real)) {}

    // Makes every later Load (or Save) of that instance fail, until cleared.
    void FailGet(const std::wstring& class_name, const std::wstring& instance_name);
    void FailPut(const std::wstring& class_name, const std::wstring& instance_name);
    void ClearFailures();

    bool Load(const std::wstring& class_name, const std::wstring& instance_name, PropertyBag& out) override;
    bool Save(const std::wstring& class_name, const std::wstring& instance_name,
              const PropertyBag& properties) override;
    bool AppendAudit(AuditRecord record) override { return real_->AppendAudit(std::move(record)); }
    std::vector<AuditRecord> ReadAudit() override { return real_->ReadAudit(); }
    std::vector<StoredInstance> List(const std::wstring* class_name, const std::wstring* instance_name) override {
        return real_->List(class_name, instance_name);
    }
    void Replace(const std::vector<StoredInstance>& instances) override { real_->Replace(instances); }
    bool Delete(const std::wstring& class_name, const std::wstring& instance_name) override {
        return real_->Delete(class_name, instance_name);
    }
    const Declarations& ClassDeclarations() const override { return real_->ClassDeclarations(); }

private:
    using Key = std::pair<std::wstring, std::wstring>;
    bool IsFailing(const std::set<Key>& failing, const std::wstring& class_name, const std::wstring& instance_name);

    std::shared_ptr<StoreBackend> real_;
    std::mutex mutex_;
    std::set<Key> failing_gets_;
    std::set<Key> failing_puts_;
};

}  // namespace tessera::host
