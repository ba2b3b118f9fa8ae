// The result-file reader over arbitrary bytes: no crash, a failed read changes nothing, and an
// accepted record writes back to text that reads as the same record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "result_file.h"

using tlx::fuzz::require;

namespace {

tlx::ElevatedResult sentinel() {
    tlx::ElevatedResult result;
    result.cancelled = true;
    result.launchError = 1223;
    result.change.plan.newSerial = 0xDEADBEEF;
    result.backupPath = L"untouched";
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exactly sized heap copy, so the sanitizer sees any read past the end.
    const std::string input(reinterpret_cast<const char*>(data), size);
    tlx::ElevatedResult result = sentinel();
    const std::string before = tlx::writeResultFile(result);
    if (!tlx::readResultFile(input, result)) {
        require(tlx::writeResultFile(result) == before && result.cancelled && result.launchError == 1223 &&
                    result.backupPath == L"untouched",
                "a failed read leaves the record alone");
        return 0;
    }
    require(std::string_view(input).starts_with("ran=") || input.find("\nran=") != std::string::npos,
            "only a text with a ran line is accepted");
    require(!result.cancelled && result.launchError == 0, "the parent's own fields are never read");

    const std::string written = tlx::writeResultFile(result);
    tlx::ElevatedResult again;
    require(tlx::readResultFile(written, again), "a written record reads back");
    require(tlx::writeResultFile(again) == written, "and reads back the same");
    return 0;
}
