# Runs Doxygen with undocumented declarations reported and fails on any public
# class (compound) without documentation.
#   cmake -DDOXYGEN=... -DDOXYFILE=... -DLOG=... -P check_documented.cmake
get_filename_component(_dir ${LOG} DIRECTORY)
file(MAKE_DIRECTORY ${_dir})
file(REMOVE ${LOG})
execute_process(COMMAND ${DOXYGEN} ${DOXYFILE} RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
if(NOT _rc EQUAL 0 OR NOT EXISTS ${LOG})
  message(FATAL_ERROR "doxygen failed (${_rc})")
endif()
file(STRINGS ${LOG} _undocumented REGEX "Compound .* is not documented")
list(LENGTH _undocumented _count)
if(_count GREATER 0)
  list(JOIN _undocumented "\n" _text)
  message(FATAL_ERROR "${_count} public classes without documentation (add a /// brief in the header):\n${_text}")
endif()
message(STATUS "every public class is documented")
