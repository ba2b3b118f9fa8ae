// Run-time loading from System32.
#include "platform/win/system_library.h"

namespace tlx::win {

void restrictDllSearchToSystem32() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

FARPROC systemProcedure(const wchar_t* dll, const char* name) {
    // Never freed: a module once loaded stays for the process, so the pointers handed out stay valid.
    const HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? GetProcAddress(module, name) : nullptr;
}

}  // namespace tlx::win
