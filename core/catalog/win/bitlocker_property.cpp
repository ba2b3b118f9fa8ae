// Asks the shell's property system, so unelevated volume lists can mark BitLocker volumes.
#include "catalog/win/bitlocker_property.h"

#include "platform/win/com_scope.h"
#include "platform/win/system_library.h"
#include "platform/win/windows.h"

#include <objbase.h>
#include <propidl.h>
#include <propkey.h>
#include <propsys.h>
#include <shobjidl.h>

namespace tlx::win {
namespace {

template <typename Interface>
class ComRef {
public:
    ComRef() noexcept = default;
    ~ComRef() {
        if (pointer_ != nullptr) pointer_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface* operator->() const noexcept { return pointer_; }
    void** out() noexcept { return reinterpret_cast<void**>(&pointer_); }

private:
    Interface* pointer_ = nullptr;
};

class PropValue {
public:
    PropValue() noexcept { PropVariantInit(&value_); }
    ~PropValue() { PropVariantClear(&value_); }
    PropValue(const PropValue&) = delete;
    PropValue& operator=(const PropValue&) = delete;
    PROPVARIANT* get() noexcept { return &value_; }

private:
    PROPVARIANT value_;
};

}  // namespace

std::optional<std::int32_t> queryBitLockerProtection(const std::wstring& parsingName) {
    const ComScope com;  // COM for this query; declared first, so the store is released before COM goes away
    // propsys.dll is no KnownDLL: taken from System32, never from beside the program.
    static const auto keyFromName =
        systemFunction<decltype(PSGetPropertyKeyFromName)>(L"propsys.dll", "PSGetPropertyKeyFromName");
    PROPERTYKEY key{};
    if (!keyFromName || FAILED(keyFromName(L"System.Volume.BitLockerProtection", &key))) return std::nullopt;
    ComRef<IPropertyStore> store;
    if (FAILED(SHGetPropertyStoreFromParsingName(parsingName.c_str(), nullptr, GPS_DEFAULT, __uuidof(IPropertyStore),
                                                 store.out())))
        return std::nullopt;
    PropValue value;
    if (FAILED(store->GetValue(key, value.get()))) return std::nullopt;
    if (value.get()->vt == VT_I4) return static_cast<std::int32_t>(value.get()->lVal);
    if (value.get()->vt == VT_UI4) return static_cast<std::int32_t>(value.get()->ulVal);
    return std::nullopt;
}

}  // namespace tlx::win
