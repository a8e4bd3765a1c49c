# Installs the build into a scratch prefix and checks that each program is there and
# runs (korva prints its usage text).
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed with status ${status}")
endif()
foreach(program korva varnock main)
  if(NOT EXISTS ${PREFIX}/bin/${program})
    message(FATAL_ERROR "${program} was not installed into ${PREFIX}/bin")
  endif()
endforeach()
execute_process(COMMAND ${PREFIX}/bin/korva RESULT_VARIABLE status OUTPUT_VARIABLE out
                INPUT_FILE /dev/null WORKING_DIRECTORY ${PREFIX})
if(NOT status EQUAL 0 OR NOT out MATCHES "Usage: korva")
  message(FATAL_ERROR "the installed korva did not print its usage text (status ${status})")
endif()
file(REMOVE_RECURSE ${PREFIX})
