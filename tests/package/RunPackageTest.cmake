# Installs the library into a scratch prefix and, with nothing but that
# prefix, builds the consumer and runs it and the installed tool:
#   - the consumer creates, fills and saves a file on the installed kernel
#     and reads it back through a file wrapper and its proxies;
#   - the installed varnox tool, without KxOrb64, finds that kernel and
#     reads the file;
#   - the consumer without KxOrb64 ends with the start-up message, exit 1;
#   - no private header was installed.
#   -D BUILD_DIR=<library build>  -D SOURCE_DIR=<this folder>  -D WORK_DIR=<scratch>
#   -D CXX_FLAGS=<flags the library was built with>  -D WITH_TOOL=<whether the tool is built>
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(consumer ${WORK_DIR}/build/consumer)
set(saved ${WORK_DIR}/competitors.orb)
# The kernel's live data and log stay in the scratch folder.
file(MAKE_DIRECTORY ${WORK_DIR}/live)
set(kernel_env VARNOX_LIVE_DIR=${WORK_DIR}/live VARNOX_KERNEL_LOG=${WORK_DIR}/kernel.log)

# Runs a command; fails the test unless it exits with `expected_rc`.
# Leaves standard output and error in `out` and `err`.
function(run expected_rc)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  if(NOT rc STREQUAL expected_rc)
    message(FATAL_ERROR "${ARGN}\nexited with ${rc}, expected ${expected_rc}:\n${stdout}\n${stderr}")
  endif()
  set(out "${stdout}" PARENT_SCOPE)
  set(err "${stderr}" PARENT_SCOPE)
endfunction()

function(expect text expected what)
  string(FIND "${text}" "${expected}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${what} lacks \"${expected}\":\n${text}")
  endif()
endfunction()

run(0 ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(0 ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${CXX_FLAGS}")
run(0 ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
file(READ ${WORK_DIR}/build/orb_root.txt orb_root)
expect("${orb_root}" "${prefix}/" "the package's kernel root")

# The consumer checks what it reads back itself (exit 3 when it differs).
run(0 ${CMAKE_COMMAND} -E env ${kernel_env} KxOrb64=${orb_root} ${consumer} ${saved})

if(WITH_TOOL)
  run(0 ${CMAKE_COMMAND} -E env --unset=KxOrb64 ${kernel_env} ${prefix}/bin/varnox info ${saved})
  expect("${out}" "Varnox FT_COMPETITORS" "the installed tool's output")
  expect("${out}" " 3 elements of" "the installed tool's output")
endif()

run(1 ${CMAKE_COMMAND} -E env --unset=KxOrb64 ${consumer} ${saved})
expect("${err}" "Environment Variable KxOrb64 Not Defined !!\nThe environment variable KxOrb64 MUST define the\ndirectory where all Tarvex components are stored:" "standard error")

# What an application must not see: the process-wide objects, the thread's
# current-object slot, the message records.
foreach(private NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h
                NetInterface/CkxOrbNetInterface/CkxMessageInfo.h
                NetInterface/CkxOrbNetInterface/CkxNetDtb2.h)
  if(EXISTS ${prefix}/include/varnox/${private})
    message(FATAL_ERROR "the private header ${private} was installed")
  endif()
endforeach()
message(STATUS "consumer: file created, saved and read back on the installed kernel")
