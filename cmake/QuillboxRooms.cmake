# quillbox_room(<target> <source>... LINKS <room or library>...): one room of the component's own
# code as a static library. Its code goes into the component module, which exports its entry
# points and nothing else, and must be able to unload.
function(quillbox_room target)
  cmake_parse_arguments(ROOM "" "" "LINKS" ${ARGN})
  add_library(${target} STATIC ${ROOM_UNPARSED_ARGUMENTS})
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  # glibc never unloads an object that defines a GNU-unique symbol (which GCC makes of inline
  # variables and statics in inline functions). (clang never makes them.)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PUBLIC -fno-gnu-unique)
  endif()
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ROOM_LINKS})
  quillbox_warnings(${target})
endfunction()
