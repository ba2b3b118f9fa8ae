// The --elevated-op role of the program: run one request and report it through the result file.
#include "win/elevated_child.h"

#include <optional>

#include "elevated_operation.h"
#include "platform/win/unique_handle.h"
#include "result_file.h"

namespace tlx::win {

int runElevatedChild(const std::vector<std::wstring>& arguments) {
    const std::optional<ChildArguments> parsed = parseChildArguments(arguments);
    if (!parsed) return 2;
    // Only the file the parent created is ever written, and it is opened before the operation runs:
    // a change whose outcome could not be reported must not happen at all.
    FileHandle file(CreateFileW(parsed->resultFile.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 3;
    const std::string bytes = writeResultFile(runOperation(parsed->request));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        return 3;
    return 0;
}

int runElevatedChild(int argc, wchar_t** argv) { return runElevatedChild(std::vector<std::wstring>(argv, argv + argc)); }

}  // namespace tlx::win
