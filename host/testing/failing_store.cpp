// The store that fails on demand.
#include "failing_store.h"

namespace tessera::host {

void FailingStore::FailGet(const std::wstring& class_name, const std::wstring& instance_name) {
    const std::lock_guard lock(mutex_);
    failing_gets_.emplace(class_name, instance_name);
}

void FailingStore::FailPut(const std::wstring& class_name, const std::wstring& instance_name) {
    const std::lock_guard lock(mutex_);
    failing_puts_.emplace(class_name, instance_name);
}

void FailingStore::ClearFailures() {
    const std::lock_guard lock(mutex_);
    failing_gets_.clear();
    failing_puts_.clear();
}

bool FailingStore::IsFailing(const std::set<Key>& failing, const std::wstring& class_name,
                             const std::wstring& instance_name) {
    const std::lock_guard lock(mutex_);
    return failing.count(Key(class_name, instance_name)) != 0;
}

bool FailingStore::Load(const std::wstring& class_name, const std::wstring& instance_name, PropertyBag& out) {
    return !IsFailing(failing_gets_, class_name, instance_name) && real_->Load(class_name, instance_name, out);
}

bool FailingStore::Save(const std::wstring& class_name, const std::wstring& instance_name,
                        const PropertyBag& properties) {
    return !IsFailing(failing_puts_, class_name, instance_name) && real_->Save(class_name, instance_name, properties);
}

}  // namespace tessera::host
