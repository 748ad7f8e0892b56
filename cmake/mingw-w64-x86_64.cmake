# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVRIN_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVRIN_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRIN_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRIN_MINGW}-windres)
set(CMAKE_STRIP ${TAVRIN_MINGW}-strip CACHE FILEPATH "")

# Libraries and headers come from the MinGW root; packages (Qt, GoogleTest)
# also from the prefixes given in CMAKE_PREFIX_PATH.
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRIN_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Windows 8 APIs and Unicode entry points; the runtime linked in, so the
# programs run without DLLs beside them.
add_compile_definitions(_WIN32_WINNT=0x0602 WINVER=0x0602 UNICODE _UNICODE)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
