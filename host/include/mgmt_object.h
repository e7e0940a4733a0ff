// The management object store as pages see it: one instance of a management
// class (CMgmtObject), views of embedded objects (CMgmtObjectBase) and string
// arrays (CMgmtBSTRArrayAccessHelper). Which backend holds the data is the host
// configuration's matter (mgmt_store.h).
#pragma once

#include "host_api.h"
#include "variant.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tessera::host {
class PropertyBag;
}

class TESSERA_HOST_API CMgmtObjectBase {
public:
    // A view of an embedded object: `embedded_value` is what GetPropertyValue of
    // the parent returned for a VT_UNKNOWN property. With `is_live_view` true the
    // view edits the parent's value in place, and the parent's Put stores the
    // edits. Null, or a value that is no embedded object, gives a view in which
    // every property is absent and whose edits go nowhere.
    CMgmtObjectBase(const _variant_t* embedded_value, bool is_live_view);
    virtual ~CMgmtObjectBase();

    CMgmtObjectBase(const CMgmtObjectBase&) = delete;
    CMgmtObjectBase& operator=(const CMgmtObjectBase&) = delete;

    // The stored value, owned by the object; null when there is no such property.
    const _variant_t* GetPropertyValue(const wchar_t* name) const;

    // The value is copied at once and kept in the kind that the class declares
    // for the property where the conversion is defined: a bool or an int on a
    // declared boolean becomes VT_BOOL (-1 for true or non-zero), a bool or an
    // int on a declared integer becomes VT_I4. The _variant_t overload stores the
    // value exactly as given. Undeclared properties keep the setter's kind.
    void SetPropertyValue(const wchar_t* name, const _variant_t& value);
    void SetPropertyValue(const wchar_t* name, bool value);
    void SetPropertyValue(const wchar_t* name, int value);
    void SetPropertyValue(const wchar_t* name, const wchar_t* text);

protected:
    CMgmtObjectBase();
    tessera::host::PropertyBag* properties_ = nullptr;  // null: nothing readable or writable

private:
    std::unique_ptr<tessera::host::PropertyBag> detached_;  // the empty bag of a view over nothing
};

class TESSERA_HOST_API CMgmtObject : public CMgmtObjectBase {
public:
    // Names one instance; nothing is read until Get. `name_space` is reserved
    // and must be null. Class and instance names match exactly, case included.
    CMgmtObject(const wchar_t* class_name, const wchar_t* instance_name, const wchar_t* name_space = nullptr);
    ~CMgmtObject() override;

    // Reads the instance. False when it does not exist or cannot be read in time
    // (the object is then empty).
    bool Get();
    // Writes every value of the object, embedded edits included, in one
    // transaction. False when the instance was never read, no longer exists, or
    // the write cannot commit. `reserved` must be false.
    bool Put(bool reserved);

    const std::wstring& ClassName() const { return class_name_; }
    const std::wstring& InstanceName() const { return instance_name_; }

private:
    std::wstring class_name_;
    std::wstring instance_name_;
    std::unique_ptr<tessera::host::PropertyBag> loaded_;
};

class TESSERA_HOST_API CMgmtBSTRArrayAccessHelper {
public:
    // An empty builder for Add and PutElementsIntoArray.
    CMgmtBSTRArrayAccessHelper();
    // A reader over a string-array value; null or a value of another type reads
    // as 0 elements. The value must outlive the helper.
    explicit CMgmtBSTRArrayAccessHelper(const _variant_t* value);
    ~CMgmtBSTRArrayAccessHelper();

    std::size_t GetElementsCount() const;
    // The element's NUL-terminated text; null when `index` is out of range.
    const wchar_t* GetElement(std::size_t index) const;

    void Add(const wchar_t* text);  // null adds the empty text
    // Puts the added texts, in order, into `out` as VT_ARRAY|VT_BSTR (releasing
    // what it held). With nothing added, an empty array. True on success.
    bool PutElementsIntoArray(_variant_t& out);

private:
    const SAFEARRAY* reading_ = nullptr;
    // The texts added, each followed by a NUL, in one buffer: a list of a
    // million entries is built without an allocation per entry.
    std::vector<wchar_t> added_text_;
    std::vector<std::size_t> added_starts_;
};
