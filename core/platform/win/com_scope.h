#pragma once
// COM for the calling thread, single-threaded apartment, for as long as the owner lives; an
// apartment the thread already has of another kind is left alone and not undone.
#include "platform/win/windows.h"

#include <objbase.h>

namespace tlx::win {

class ComScope {
public:
    ComScope() noexcept : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT result_;
};

}  // namespace tlx::win
