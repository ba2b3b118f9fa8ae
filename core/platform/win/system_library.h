#pragma once
// DLLs that are not KnownDLLs, loaded at run time from System32 only: Windows looks for an imported DLL in
// the program's own folder first, where anyone who can write that folder (Downloads, the USB stick being
// changed) could plant one that then runs elevated.
#include "platform/win/windows.h"

namespace tlx::win {

// First thing in every program: every later load, also a system DLL's own, searches System32 alone.
void restrictDllSearchToSystem32();

// The exported function name of System32's dll; the DLL stays loaded for the process. Null when either
// is missing.
[[nodiscard]] FARPROC systemProcedure(const wchar_t* dll, const char* name);

// The same, typed: Fn is the function's type, for example decltype(BCryptGenRandom).
template <typename Fn>
[[nodiscard]] Fn* systemFunction(const wchar_t* dll, const char* name) {
    return reinterpret_cast<Fn*>(reinterpret_cast<void*>(systemProcedure(dll, name)));
}

}  // namespace tlx::win
