# Installs the public headers: the umbrella header varnox/Varnox.h and every
# header it reaches through quoted includes, each below
# ${VARNOX_HEADER_DEST} at its path from the source root (or the generated
# tree); the umbrella itself lands at ${VARNOX_HEADER_DEST}/Varnox.h.
# Nothing else is installed. A header that says "Private to the library" in
# a comment must not be reached: the install fails and names the includer.
#
# Run at install time, with VARNOX_HEADER_ROOTS (source root, then generated
# tree) and VARNOX_HEADER_DEST set.
set(umbrella varnox/Varnox.h)
set(pending ${umbrella})
set(seen "")
set(reached_from_${umbrella} "the installed package")

while(pending)
  list(POP_FRONT pending header)
  list(FIND seen ${header} index)
  if(NOT index EQUAL -1)
    continue()
  endif()
  list(APPEND seen ${header})

  set(file "")
  foreach(root IN LISTS VARNOX_HEADER_ROOTS)
    if(EXISTS ${root}/${header})
      set(file ${root}/${header})
      break()
    endif()
  endforeach()
  if(NOT file)
    message(FATAL_ERROR "${reached_from_${header}} includes ${header}, which is neither a source "
                        "nor a generated header")
  endif()

  file(STRINGS ${file} private_marks REGEX "^// Private to the library")
  if(private_marks)
    message(FATAL_ERROR "${header} is private to the library, but ${reached_from_${header}} "
                        "includes it: a public header may reach only public ones")
  endif()

  if(header STREQUAL umbrella)
    set(destination ${VARNOX_HEADER_DEST})
  else()
    get_filename_component(folder ${header} DIRECTORY)
    set(destination ${VARNOX_HEADER_DEST}/${folder})
  endif()
  file(INSTALL ${file} DESTINATION ${destination})

  file(STRINGS ${file} include_lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
  foreach(line IN LISTS include_lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
    if(NOT DEFINED reached_from_${included})
      set(reached_from_${included} ${header})
    endif()
    list(APPEND pending ${included})
  endforeach()
endwhile()
