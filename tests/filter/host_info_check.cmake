# Runs HOST with ARGS (a list) and checks its exit status (EXIT) and that its
# output, stdout then stderr, matches the regular expression EXPECT.
# EMULATOR runs the host where this machine cannot (the 32-bit build).
execute_process(COMMAND ${EMULATOR} ${HOST} ${ARGS}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(all "${out}${err}")
if(NOT status STREQUAL "${EXIT}")
  message(FATAL_ERROR "exit status ${status}, expected ${EXIT}; output:\n${all}")
endif()
if(NOT all MATCHES "${EXPECT}")
  message(FATAL_ERROR "output does not match '${EXPECT}':\n${all}")
endif()
