execute_process(COMMAND ${CEDEVICE} docs markdown --output ${OUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cedevice docs markdown failed (${result})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${DOC} RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "docs/cedevice.md does not match the commands' own texts: run `make docs` "
                      "and commit the result (diff ${OUT} ${DOC})")
endif()
