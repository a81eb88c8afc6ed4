# Cross-compiling for 64-bit Windows with mingw-w64 (posix thread model, so
# that std::mutex and std::thread exist), linked statically so the programs
# need nothing beyond the system DLLs. Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOVREL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOVREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVREL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOVREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CTest puts this in front of every test command of a built target; the
# script runs the program under Wine, headless (see the script).
if(CMAKE_HOST_UNIX)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
endif()
