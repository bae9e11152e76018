# What both mingw-w64 toolchains share; the architecture file sets QUILLBOX_MINGW_TRIPLET and
# QUILLBOX_MINGW_ARCH (the name of its dependency cache, build-win/deps/<arch>) before including it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)  # Windows 7, the oldest the component is built for

# The -posix compilers: the component uses std::mutex, which the -win32 thread model of GCC 12
# does not provide. Their winpthread, libstdc++ and libgcc are linked statically below, so the
# module still imports only system DLLs.
set(CMAKE_C_COMPILER ${QUILLBOX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLBOX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLBOX_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${QUILLBOX_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUILLBOX_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")
find_program(QUILLBOX_WIDL NAMES ${QUILLBOX_MINGW_TRIPLET}-widl widl)

# The three XML libraries, cross-built static-only by scripts/windows-deps.sh. The cache sits in
# the source tree's build-win/ unless QUILLBOX_WINDOWS_DEPS (a variable or the environment) names
# another. This file is read again for every try_compile project, so the choice is passed on.
if(NOT QUILLBOX_WINDOWS_DEPS)
  if(DEFINED ENV{QUILLBOX_WINDOWS_DEPS})
    set(QUILLBOX_WINDOWS_DEPS "$ENV{QUILLBOX_WINDOWS_DEPS}")
  else()
    get_filename_component(QUILLBOX_WINDOWS_DEPS
      "${CMAKE_CURRENT_LIST_DIR}/../../build-win/deps/${QUILLBOX_MINGW_ARCH}" ABSOLUTE)
  endif()
endif()
set(ENV{QUILLBOX_WINDOWS_DEPS} "${QUILLBOX_WINDOWS_DEPS}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLBOX_WINDOWS_DEPS QUILLBOX_MINGW_ARCH
     QUILLBOX_MINGW_TRIPLET)

# Headers and libraries come from the cross sysroot and the dependency cache only, never from
# the build machine; programs (widl, pkg-config) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLBOX_MINGW_TRIPLET} "${QUILLBOX_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the cache's .pc files and nothing of the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${QUILLBOX_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Every module is self-contained: libgcc, libstdc++ and winpthread are linked into it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Tests and build-time programs run under Wine (in the prefix WINEPREFIX names).
find_program(QUILLBOX_WINE wine)
if(QUILLBOX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLBOX_WINE})
endif()

# Windows finds a module's DLLs beside it; there is no rpath.
set(CMAKE_SKIP_RPATH ON)
