# The Windows build of the tree, read by the top-level CMakeLists.txt when it is configured with a
# mingw-w64 toolchain file (cmake/toolchains/): the shared rooms, the CryptoAPI back end of the
# signing room and windows/ linked into bin/quillbox.dll over the static libxml2, libxslt and
# xmlsec1 of the dependency cache (scripts/windows-deps.sh). Nothing of platform/ takes part: the
# rooms were written against the Windows names, and here the Windows SDK serves them.
if(NOT QUILLBOX_WINDOWS_DEPS OR NOT EXISTS ${QUILLBOX_WINDOWS_DEPS}/quillbox-deps.cmake)
  message(FATAL_ERROR "no dependency cache in '${QUILLBOX_WINDOWS_DEPS}': run scripts/windows-deps.sh first")
endif()
include(${QUILLBOX_WINDOWS_DEPS}/quillbox-deps.cmake)
enable_language(RC)

# The names the rooms link the XML libraries by on Linux, served by the static Windows builds.
foreach(name LIBXML2 LIBXSLT XMLSEC)
  add_library(PkgConfig::${name} INTERFACE IMPORTED)
  target_link_libraries(PkgConfig::${name} INTERFACE QuillboxWindowsXml)
endforeach()

# The platform is the system: its headers, windows/include for the few declarations mingw-w64
# lacks, and the import libraries of the system DLLs the rooms call.
add_library(quillbox_platform INTERFACE)
target_include_directories(quillbox_platform INTERFACE ${CMAKE_SOURCE_DIR}/windows/include)
target_link_libraries(quillbox_platform INTERFACE ole32 oleaut32 uuid crypt32 advapi32 user32)

# qbidl and qbrc run on the build machine: they are built there, with the build machine's
# compiler, as a project of their own. Its build runs on every build so that a change of their
# sources is seen; with nothing changed that costs a second.
include(ExternalProject)
set(quillbox_host_tools ${CMAKE_BINARY_DIR}/host-tools)
ExternalProject_Add(quillbox_host_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/cmake/host-tools
  BINARY_DIR ${quillbox_host_tools}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${quillbox_host_tools}/qbidl/qbidl ${quillbox_host_tools}/qbrc/qbrc)
foreach(tool qbidl qbrc)
  add_executable(${tool} IMPORTED)
  set_target_properties(${tool} PROPERTIES IMPORTED_LOCATION ${quillbox_host_tools}/${tool}/${tool})
  add_dependencies(${tool} quillbox_host_tools)
endforeach()
include(${CMAKE_SOURCE_DIR}/tools/qbidl/quillbox_idl.cmake)

include(${CMAKE_SOURCE_DIR}/cmake/QuillboxRooms.cmake)

# The rooms build as far as the module needs them (common's JSON and origin libraries serve
# programs that are not part of the Windows build).
foreach(room common xml certs signing component resources server)
  add_subdirectory(${room} EXCLUDE_FROM_ALL)
endforeach()
add_dependencies(quillbox_interface quillbox_host_tools)

# The type library: qbidl's is the Linux platform's own format, Windows reads only the MSFT one,
# which widl writes. widl reads the SDK's IDL files where they are installed, else the stand-ins
# of windows/idl (enough for the type library); IUnknown and IDispatch come from stdole2.tlb, of
# the SDK or of Wine's Windows libraries.
if(NOT QUILLBOX_WIDL)
  message(FATAL_ERROR "no widl (${QUILLBOX_MINGW_TRIPLET}-widl, of mingw-w64-tools) for the type library")
endif()
find_path(QUILLBOX_SDK_IDL oaidl.idl PATHS /usr/share/mingw-w64/include /usr/${QUILLBOX_MINGW_TRIPLET}/include
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUILLBOX_SDK_IDL)
  set(QUILLBOX_SDK_IDL ${CMAKE_SOURCE_DIR}/windows/idl)
endif()
file(GLOB quillbox_sdk_idl_files ${QUILLBOX_SDK_IDL}/oaidl.idl ${QUILLBOX_SDK_IDL}/ocidl.idl ${QUILLBOX_SDK_IDL}/unknwn.idl)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(quillbox_wine_windows x86_64-linux-gnu/wine/x86_64-windows)
else()
  set(quillbox_wine_windows i386-linux-gnu/wine/i386-windows)
endif()
find_path(QUILLBOX_STDOLE2 stdole2.tlb PATHS ${QUILLBOX_SDK_IDL} /usr/lib/${quillbox_wine_windows}
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUILLBOX_STDOLE2)
  message(FATAL_ERROR "no stdole2.tlb for widl's importlib (Wine's /usr/lib/${quillbox_wine_windows} has one)")
endif()
set(QUILLBOX_WINDOWS_TYPELIB_DIR ${CMAKE_BINARY_DIR}/generated/windows)
set(QUILLBOX_WINDOWS_TYPELIB ${QUILLBOX_WINDOWS_TYPELIB_DIR}/quillbox.tlb)
file(MAKE_DIRECTORY ${QUILLBOX_WINDOWS_TYPELIB_DIR})
add_custom_command(
  OUTPUT ${QUILLBOX_WINDOWS_TYPELIB}
  COMMAND ${QUILLBOX_WIDL} -t -I ${QUILLBOX_SDK_IDL} -L ${QUILLBOX_STDOLE2} -o ${QUILLBOX_WINDOWS_TYPELIB}
          ${CMAKE_SOURCE_DIR}/resources/quillbox.idl
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/quillbox.idl ${quillbox_sdk_idl_files}
  COMMENT "Compiling the type library of quillbox.idl with widl"
  VERBATIM)
add_custom_target(quillbox_windows_typelib DEPENDS ${QUILLBOX_WINDOWS_TYPELIB})
add_subdirectory(windows)
add_subdirectory(windows/module)
if(QUILLBOX_BUILD_TESTS)
  add_subdirectory(tests/windows/module)
endif()
