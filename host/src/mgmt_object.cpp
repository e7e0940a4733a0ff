// Store objects as pages see them: an instance read by Get and written by Put,
// live views of its embedded objects, and string-array readers and builders,
// all over the current store backend.
#include "mgmt_object.h"

#include "mgmt_store.h"
#include "store_internal.h"

#include <mutex>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace tessera::host {

namespace {

std::mutex g_current_store_mutex;
std::shared_ptr<StoreBackend> g_current_store;

}  // namespace

StoreBackend::~StoreBackend() = default;

void SetCurrentStore(std::shared_ptr<StoreBackend> store) {
    const std::lock_guard lock(g_current_store_mutex);
    g_current_store = std::move(store);
}

std::shared_ptr<StoreBackend> detail::CurrentStoreOrNull() {
    const std::lock_guard lock(g_current_store_mutex);
    return g_current_store;
}

std::shared_ptr<StoreBackend> CurrentStore() {
    std::shared_ptr<StoreBackend> store = detail::CurrentStoreOrNull();
    if (!store) {
        throw std::logic_error("no management store was set");
    }
    return store;
}

}  // namespace tessera::host

using tessera::host::PropertyBag;

// ---- CMgmtObjectBase ------------------------------------------------------------------

CMgmtObjectBase::CMgmtObjectBase() = default;

CMgmtObjectBase::CMgmtObjectBase(const _variant_t* embedded_value, bool is_live_view) {
    PropertyBag* embedded = embedded_value == nullptr ? nullptr : tessera::host::EmbeddedProperties(*embedded_value);
    if (embedded != nullptr && is_live_view) {
        properties_ = embedded;
        return;
    }
    detached_ = embedded != nullptr ? std::make_unique<PropertyBag>(*embedded) : std::make_unique<PropertyBag>();
    properties_ = detached_.get();
}

CMgmtObjectBase::~CMgmtObjectBase() = default;

const _variant_t* CMgmtObjectBase::GetPropertyValue(const wchar_t* name) const {
    if (properties_ == nullptr || name == nullptr) return nullptr;
    const _variant_t* value = std::as_const(*properties_).Find(name);
    // A live view edits an embedded object in place: it must be this object's own, not one it shares.
    return value != nullptr && value->vt == VT_UNKNOWN ? properties_->Find(name) : value;
}

void CMgmtObjectBase::SetPropertyValue(const wchar_t* name, const _variant_t& value) {
    if (properties_ != nullptr && name != nullptr) {
        properties_->Set(name, value);
    }
}

void CMgmtObjectBase::SetPropertyValue(const wchar_t* name, bool value) {
    if (properties_ != nullptr && name != nullptr) {
        properties_->SetBool(name, value);
    }
}

void CMgmtObjectBase::SetPropertyValue(const wchar_t* name, int value) {
    if (properties_ != nullptr && name != nullptr) {
        properties_->SetInt(name, value);
    }
}

void CMgmtObjectBase::SetPropertyValue(const wchar_t* name, const wchar_t* text) {
    if (properties_ != nullptr && name != nullptr) {
        properties_->SetText(name, text);
    }
}

// ---- CMgmtObject -------------------------------------------------------------------------

CMgmtObject::CMgmtObject(const wchar_t* class_name, const wchar_t* instance_name, const wchar_t* name_space)
    : class_name_(class_name == nullptr ? L"" : class_name),
      instance_name_(instance_name == nullptr ? L"" : instance_name) {
    if (name_space != nullptr) {
        throw std::invalid_argument("CMgmtObject: the name space argument is reserved and must be null");
    }
}

CMgmtObject::~CMgmtObject() = default;

bool CMgmtObject::Get() {
    properties_ = nullptr;
    loaded_.reset();
    auto loaded = std::make_unique<PropertyBag>();
    if (!tessera::host::CurrentStore()->Load(class_name_, instance_name_, *loaded)) {
        return false;
    }
    loaded_ = std::move(loaded);
    properties_ = loaded_.get();
    return true;
}

bool CMgmtObject::Put(bool reserved) {
    if (reserved) {
        throw std::invalid_argument("CMgmtObject::Put: the argument is reserved and must be false");
    }
    return loaded_ != nullptr && tessera::host::CurrentStore()->Save(class_name_, instance_name_, *loaded_);
}

// ---- CMgmtBSTRArrayAccessHelper -------------------------------------------------------------

CMgmtBSTRArrayAccessHelper::CMgmtBSTRArrayAccessHelper() = default;

CMgmtBSTRArrayAccessHelper::CMgmtBSTRArrayAccessHelper(const _variant_t* value)
    : reading_(value != nullptr && value->vt == tessera::host::kBstrArray ? value->parray : nullptr) {}

CMgmtBSTRArrayAccessHelper::~CMgmtBSTRArrayAccessHelper() = default;

std::size_t CMgmtBSTRArrayAccessHelper::GetElementsCount() const {
    return reading_ != nullptr ? SafeArrayGetCount(reading_) : added_starts_.size();
}

const wchar_t* CMgmtBSTRArrayAccessHelper::GetElement(std::size_t index) const {
    if (reading_ != nullptr) {
        return SafeArrayGetBSTR(reading_, index);
    }
    return index < added_starts_.size() ? added_text_.data() + added_starts_[index] : nullptr;
}

void CMgmtBSTRArrayAccessHelper::Add(const wchar_t* text) {
    const std::wstring_view added = text == nullptr ? L"" : text;
    added_starts_.push_back(added_text_.size());
    added_text_.insert(added_text_.end(), added.begin(), added.end());
    added_text_.push_back(L'\0');
}

bool CMgmtBSTRArrayAccessHelper::PutElementsIntoArray(_variant_t& out) {
    const std::size_t count = added_starts_.size();
    std::unique_ptr<SAFEARRAY, decltype(&SafeArrayDestroy)> array(SafeArrayCreateBSTR(count), &SafeArrayDestroy);
    SafeArrayReserveText(array.get(), added_text_.size());
    for (std::size_t index = 0; index < count; ++index) {
        const std::size_t end = index + 1 < count ? added_starts_[index + 1] : added_text_.size();
        SafeArraySetBSTR(array.get(), index, added_text_.data() + added_starts_[index], end - 1 - added_starts_[index]);
    }
    out.Clear();
    out.parray = array.release();
    out.vt = tessera::host::kBstrArray;
    return true;
}
