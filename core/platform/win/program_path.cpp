// Where the running program lies.
#include "platform/win/program_path.h"

#include "platform/win/windows.h"

namespace tlx::win {

std::wstring programPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool programRunsFrom(const std::wstring& volume) {
    const std::wstring program = programPath();
    wchar_t root[MAX_PATH] = {};
    wchar_t name[MAX_PATH] = {};
    if (program.empty() || !GetVolumePathNameW(program.c_str(), root, MAX_PATH) ||
        !GetVolumeNameForVolumeMountPointW(root, name, MAX_PATH))
        return false;
    std::wstring own(name);
    std::wstring target = volume;
    if (own.ends_with(L'\\')) own.pop_back();
    if (target.ends_with(L'\\')) target.pop_back();
    return CompareStringOrdinal(own.c_str(), -1, target.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace tlx::win
