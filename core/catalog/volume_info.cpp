// Pure helpers of the volume catalogue: supported names, BitLocker hint, ordering.
#include "catalog/volume_info.h"

#include <algorithm>
#include <utility>

namespace tlx {

namespace {

// Simple one-to-one upper-case mapping of the scripts volume names and paths use in practice;
// other code units compare as they are.
std::uint32_t upperOf(std::uint32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c < 0x80) return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;  // Latin-1
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        // Latin Extended-A pairs: even upper, odd lower, except 0x139-0x148 and 0x179-0x17E (odd upper).
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper) return (c % 2 == 0) ? c - 1 : c;
        return (c % 2 == 1) ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;  // Greek
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;  // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

bool hasMountPoints(const VolumeInfo& v) {
    return !v.mountPoints.empty();
}

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// The digit run starting at i without its leading zeros: [first, end).
std::pair<std::size_t, std::size_t> digitRun(const std::wstring& s, std::size_t i) {
    std::size_t end = i;
    while (end < s.size() && isDigit(s[end])) ++end;
    while (i + 1 < end && s[i] == L'0') ++i;
    return {i, end};
}

}  // namespace

int compareNatural(const std::wstring& a, const std::wstring& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const auto [af, ae] = digitRun(a, i);
            const auto [bf, be] = digitRun(b, j);
            if (ae - af != be - bf) return ae - af < be - bf ? -1 : 1;
            const int digits = a.compare(af, ae - af, b, bf, be - bf);
            if (digits != 0) return digits < 0 ? -1 : 1;
            i = ae;
            j = be;
            continue;
        }
        const int c = compareUpperCased(a.substr(i, 1), b.substr(j, 1));
        if (c != 0) return c;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    return compareUpperCased(a, b);
}

int compareUpperCased(const std::wstring& a, const std::wstring& b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const std::uint32_t x = upperOf(static_cast<std::uint32_t>(a[i]));
        const std::uint32_t y = upperOf(static_cast<std::uint32_t>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool isSupportedFileSystemName(const std::wstring& name) {
    for (const wchar_t* known : {L"FAT", L"FAT32", L"exFAT", L"NTFS"})
        if (compareOrdinalIgnoreCase(name, known) == 0) return true;
    return false;
}

bool bitLockerHintFor(std::int32_t protection) {
    return protection == 1 || (protection >= 3 && protection <= 6);
}

void sortVolumes(std::vector<VolumeInfo>& volumes) {
    std::stable_sort(volumes.begin(), volumes.end(), [](const VolumeInfo& a, const VolumeInfo& b) {
        if (hasMountPoints(a) != hasMountPoints(b)) return hasMountPoints(a);
        if (!hasMountPoints(a)) return false;
        return compareOrdinalIgnoreCase(a.mountPoints.front(), b.mountPoints.front()) < 0;
    });
}

void sortVolumesNaturally(std::vector<VolumeInfo>& volumes) {
    std::stable_sort(volumes.begin(), volumes.end(), [](const VolumeInfo& a, const VolumeInfo& b) {
        if (hasMountPoints(a) != hasMountPoints(b)) return hasMountPoints(a);
        if (hasMountPoints(a)) return compareNatural(a.mountPoints.front(), b.mountPoints.front()) < 0;
        return compareNatural(a.volume, b.volume) < 0;
    });
}

}  // namespace tlx
