# 64-bit Windows.
#   cmake -S . -B build-win/x86_64 --toolchain cmake/toolchains/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLBOX_MINGW_TRIPLET x86_64-w64-mingw32)
set(QUILLBOX_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
