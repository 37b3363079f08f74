# The part of the mingw-w64 cross builds that both word sizes share; the
# toolchain files set CMAKE_SYSTEM_PROCESSOR and KP_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

# The key wait locks a std::mutex; GCC before 13 offers it only with the
# posix thread model, so prefer that flavour of the compiler where both exist.
find_program(KP_MINGW_CXX NAMES ${KP_MINGW_PREFIX}-g++-posix ${KP_MINGW_PREFIX}-g++ REQUIRED)
set(CMAKE_CXX_COMPILER ${KP_MINGW_CXX})
find_program(KP_MINGW_WINDRES NAMES ${KP_MINGW_PREFIX}-windres)
if(KP_MINGW_WINDRES)
  set(CMAKE_RC_COMPILER ${KP_MINGW_WINDRES})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${KP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A statically linked release binary carries no symbols it would never use.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
