# Windows x64 with zig: the toolchain of the ARM64 build, tested on running code under Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZIG_WINDOWS_TARGET x86_64-windows-gnu)
set(ZIG_WINDOWS_RC_MACHINE X64)
include("${CMAKE_CURRENT_LIST_DIR}/zig-windows.cmake")
