# Windows on ARM64 with zig.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(ZIG_WINDOWS_TARGET aarch64-windows-gnu)
set(ZIG_WINDOWS_RC_MACHINE ARM64)
include("${CMAKE_CURRENT_LIST_DIR}/zig-windows.cmake")
