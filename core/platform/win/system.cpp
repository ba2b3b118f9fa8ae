// Clock, random bits, elevation and error texts from the Windows system.
#include "platform/system.h"

#include <string>

#include "platform/win/system_library.h"
#include "platform/win/unique_handle.h"
#include "platform/win/windows.h"

#include <bcrypt.h>

namespace tlx {

UtcTime utcNow() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::optional<std::uint64_t> randomBits64() {
    static const auto generate = win::systemFunction<decltype(BCryptGenRandom)>(L"bcrypt.dll", "BCryptGenRandom");
    unsigned char bytes[8] = {};
    if (!generate || !BCRYPT_SUCCESS(generate(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return std::nullopt;
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

bool isElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const win::KernelHandle owner(token);
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    if (!GetTokenInformation(owner.get(), TokenElevation, &elevation, sizeof elevation, &returned)) return false;
    return elevation.TokenIsElevated != 0;
}

std::wstring errorText(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
        0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    if (text.empty()) return L"Error " + std::to_wstring(code) + L".";
    return text;
}

}  // namespace tlx
