# Extracts the texts the dialog module marks for translation and checks that a catalogue
# translates every one of them. Run with -DXGETTEXT, -DMSGCMP, -DSOURCES (the module's
# directory), -DPO (the catalogue) and -DPOT (where the template goes).
file(GLOB sources ${SOURCES}/*.cpp)
execute_process(COMMAND ${XGETTEXT} --keyword=QB_N_ --language=C++ --from-code=UTF-8 -o ${POT} ${sources}
  RESULT_VARIABLE extracted)
if(NOT extracted EQUAL 0)
  message(FATAL_ERROR "xgettext failed on ${SOURCES}")
endif()
execute_process(COMMAND ${MSGCMP} ${PO} ${POT} RESULT_VARIABLE compared ERROR_VARIABLE missing)
if(NOT compared EQUAL 0)
  message(FATAL_ERROR "${PO} lacks translations:\n${missing}")
endif()
