# 32-bit Windows, the primary target: the type library the component registers is a Win32 one.
#   cmake -S . -B build-win/i686 --toolchain cmake/toolchains/i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILLBOX_MINGW_TRIPLET i686-w64-mingw32)
set(QUILLBOX_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
