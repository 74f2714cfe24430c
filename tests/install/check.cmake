# Installs the built kvga into a private prefix, then configures, builds and runs a separate
# consumer project that finds it with find_package(kvga).
file(REMOVE_RECURSE ${WORK_DIR})
set(PREFIX ${WORK_DIR}/prefix)

function(run_step)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "step failed (${rc}): ${ARGV}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

run_step(${CMAKE_COMMAND} --install ${KVGA_BINARY_DIR} --prefix ${PREFIX})
run_step(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_BUILD_TYPE=Release)
run_step(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run_step(${WORK_DIR}/build/consumer)
# The MPI layer's consumer runs as a singleton (no mpirun) when the package has the layer; the
# core target must not bring MPI along.
if(EXISTS ${WORK_DIR}/build/consumer_mpi)
  run_step(${WORK_DIR}/build/consumer_mpi)
endif()
file(GLOB_RECURSE TARGET_FILES ${PREFIX}/kvgaTargets.cmake)
file(READ "${TARGET_FILES}" TARGETS)
string(REGEX MATCH "set_target_properties\\(kvga::kvga [^)]*\\)" CORE "${TARGETS}")
if(CORE MATCHES "MPI::")
  message(FATAL_ERROR "kvga::kvga links MPI: ${CORE}")
endif()
