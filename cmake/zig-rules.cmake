# Read after CMake's platform rules: a window program (add_executable WIN32) asks the linker for
# the window subsystem itself, since zig 0.11 ignores -mwindows.
set(CMAKE_CXX_CREATE_WIN32_EXE "-Wl,--subsystem,windows")
