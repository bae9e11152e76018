# quillbox_idl(TARGET name IDL file OUTPUT_NAME stem): compiles one IDL file into
# ${CMAKE_BINARY_DIR}/generated/<stem>_h.h, <stem>_i.cpp and <stem>.tlb, built by the custom target
# `name`. The compiler is the executable target qbidl (imported from the build machine's tools in a
# cross build). Sets <name>_HEADER, <name>_IDENTIFIERS and <name>_TYPELIB in the caller's scope.
function(quillbox_idl)
  cmake_parse_arguments(I "" "TARGET;IDL;OUTPUT_NAME;OUTPUT_DIR" "" ${ARGN})
  if(NOT I_OUTPUT_DIR)
    set(I_OUTPUT_DIR ${CMAKE_BINARY_DIR}/generated)
  endif()
  set(header ${I_OUTPUT_DIR}/${I_OUTPUT_NAME}_h.h)
  set(identifiers ${I_OUTPUT_DIR}/${I_OUTPUT_NAME}_i.cpp)
  set(typelib ${I_OUTPUT_DIR}/${I_OUTPUT_NAME}.tlb)
  file(MAKE_DIRECTORY ${I_OUTPUT_DIR})
  add_custom_command(
    OUTPUT ${header} ${identifiers} ${typelib}
    COMMAND qbidl --header ${header} --identifiers ${identifiers} --typelib ${typelib} ${I_IDL}
    DEPENDS qbidl ${I_IDL}
    COMMENT "Compiling interface definition ${I_IDL}"
    VERBATIM)
  add_custom_target(${I_TARGET} DEPENDS ${header} ${identifiers} ${typelib})
  set(${I_TARGET}_HEADER ${header} PARENT_SCOPE)
  set(${I_TARGET}_IDENTIFIERS ${identifiers} PARENT_SCOPE)
  set(${I_TARGET}_TYPELIB ${typelib} PARENT_SCOPE)
endfunction()
