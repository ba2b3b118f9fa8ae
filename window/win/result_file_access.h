#pragma once
// The result file lies in the user's temporary folder, where every unelevated process of the user can
// swap it for a link to another file between the parent's steps and the child's. So both sides open it
// without following links and check the handle: not a reparse point, exactly one link, and its final
// path the one expected; the parent also holds it to the very file it created and deletes only that.
#include <cstdint>
#include <string>

#include "platform/win/unique_handle.h"

namespace tlx::win {

struct CreatedResultFile {
    std::wstring path;
    std::wstring finalPath;  // GetFinalPathNameByHandleW of the file created
    std::uint32_t volumeSerial = 0;
    std::uint64_t fileIndex = 0;
};

// Parent: creates the file empty, exclusively. 0 or the Windows error code.
[[nodiscard]] std::uint32_t createResultFile(const std::wstring& path, CreatedResultFile& created);
// Parent: the file's bytes (at most the reader's limit and one more) when it is still the file created,
// then deletes it through the checked handle; empty, and nothing deleted, when it is not.
[[nodiscard]] std::string takeResultFile(const CreatedResultFile& created);
// Child: the parent's file, opened for writing when it passes the checks and is still empty; an invalid
// handle otherwise.
[[nodiscard]] FileHandle openResultFileForChild(const std::wstring& path);

}  // namespace tlx::win
