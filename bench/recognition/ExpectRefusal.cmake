# Runs the recognition benchmark on an empty program folder: it must end with status 1 and say why,
# and print no timing figure.
file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
execute_process(COMMAND "${BENCH}" --runs 1 --program-folder "${FOLDER}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 1)
  message(FATAL_ERROR "expected exit status 1, got ${status}\n${out}\n${err}")
endif()
if(NOT err MATCHES "cannot load its data" OR NOT err MATCHES "Haar cascade")
  message(FATAL_ERROR "no clear message on standard error:\n${err}")
endif()
if(out MATCHES "median")
  message(FATAL_ERROR "figures printed although the recognizer could not run:\n${out}")
endif()
