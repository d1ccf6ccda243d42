# Warnings and sanitizers applied to every target of the project.

# A sanitized build is for finding faults, not for speed: -O1 with line
# tables compiles in about half the time of -O2 with full debug information
# and keeps the reports' stacks exact.
if(VARNOX_SANITIZE)
  add_compile_options(-fsanitize=${VARNOX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all
    -O1 -g1)
  add_link_options(-fsanitize=${VARNOX_SANITIZE})
  # GCC's flow analysis sees through the sanitizers' instrumentation badly and
  # reports a string inside a std::variant as maybe uninitialized where the
  # plain build sees that it is not; the plain build keeps the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()

function(varnox_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
  if(CMAKE_COMPILE_WARNING_AS_ERROR OR VARNOX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
