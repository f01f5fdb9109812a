# The demonstration files in FOLDER, written by the tools, and FOLDER/expected.txt:
# report_dump's bits of the C API on them.
file(REMOVE_RECURSE ${FOLDER})
foreach(program IN ITEMS LUMETRA_MEASURE QUENBAR_SNR)
  execute_process(COMMAND ${${program}} --make-demo ${FOLDER} OUTPUT_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${${program}} --make-demo ${FOLDER}: ${status}")
  endif()
endforeach()
execute_process(COMMAND ${DUMP} ${FOLDER} OUTPUT_FILE ${FOLDER}/expected.txt RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${DUMP} ${FOLDER}: ${status}")
endif()
