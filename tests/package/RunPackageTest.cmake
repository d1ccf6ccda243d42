# Installs the library into a scratch prefix, builds the consumer against it
# and checks what the consumer does without KxOrb64.
#   -D BUILD_DIR=<library build>  -D SOURCE_DIR=<this folder>  -D WORK_DIR=<scratch>
#   -D CXX_FLAGS=<flags the library was built with>
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${rc}):\n${out}\n${err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${CXX_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=KxOrb64 ${WORK_DIR}/build/consumer
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 1)
  message(FATAL_ERROR "consumer exited with ${rc}, expected 1")
endif()
string(FIND "${err}" "Environment Variable KxOrb64 Not Defined !!\nThe environment variable KxOrb64 MUST define the\ndirectory where all Tarvex components are stored:" found)
if(found EQUAL -1)
  message(FATAL_ERROR "unexpected standard error:\n${err}")
endif()
message(STATUS "consumer: exit code 1 with the start-up message")
