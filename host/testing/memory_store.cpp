// The in-memory store of the benchmark.
#include "memory_store.h"

#include <utility>

namespace tessera::host {

MemoryStore::MemoryStore(Declarations declarations) : declarations_(std::move(declarations)) {}

bool MemoryStore::Load(const std::wstring& class_name, const std::wstring& instance_name, PropertyBag& out) {
    const std::lock_guard lock(mutex_);
    const Key key(class_name, instance_name);
    const auto found = instances_.find(key);
    if (found == instances_.end()) {
        return false;
    }
    out = found->second;
    return true;
}

bool MemoryStore::Save(const std::wstring& class_name, const std::wstring& instance_name,
                       const PropertyBag& properties) {
    PropertyBag stored = properties;
    stored.Declare(DeclarationOf(declarations_, class_name));
    const std::lock_guard lock(mutex_);
    const Key key(class_name, instance_name);
    const auto found = instances_.find(key);
    if (found == instances_.end()) {
        return false;
    }
    found->second = std::move(stored);
    return true;
}

bool MemoryStore::AppendAudit(AuditRecord record) {
    const std::lock_guard lock(mutex_);
    record.seq = audit_.empty() ? 1 : audit_.back().seq + 1;
    audit_.push_back(std::move(record));
    return true;
}

std::vector<AuditRecord> MemoryStore::ReadAudit() {
    const std::lock_guard lock(mutex_);
    return audit_;
}

std::vector<StoredInstance> MemoryStore::List(const std::wstring* class_name, const std::wstring* instance_name) {
    const std::lock_guard lock(mutex_);
    std::vector<StoredInstance> listed;
    for (const auto& [key, properties] : instances_) {
        if ((class_name == nullptr || key.first == *class_name) &&
            (instance_name == nullptr || key.second == *instance_name)) {
            listed.push_back({key.first, key.second, properties});
        }
    }
    return listed;
}

void MemoryStore::Replace(const std::vector<StoredInstance>& instances) {
    const std::lock_guard lock(mutex_);
    // Built aside and swapped in, so that a failure part-way changes nothing.
    std::map<Key, PropertyBag> replaced = instances_;
    for (const StoredInstance& instance : instances) {
        PropertyBag stored = instance.properties;
        stored.Declare(DeclarationOf(declarations_, instance.class_name));
        replaced[Key(instance.class_name, instance.instance_name)] = std::move(stored);
    }
    instances_.swap(replaced);
}

bool MemoryStore::Delete(const std::wstring& class_name, const std::wstring& instance_name) {
    const std::lock_guard lock(mutex_);
    return instances_.erase(Key(class_name, instance_name)) != 0;
}

}  // namespace tessera::host
