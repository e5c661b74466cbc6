# The shared library's version script, made from the public header: every
# function it declares with STRIDELOG_API is exported (node STRIDELOG_2),
# nothing else. A new entry point is exported by being declared.

# stridelog_export_map(<header> <output>)
function(stridelog_export_map header output)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  file(READ ${header} text)
  string(REGEX MATCHALL "\nSTRIDELOG_API[^;(]*[ *]([A-Za-z_0-9]+)\\(" declarations "${text}")
  set(names "")
  foreach(declaration IN LISTS declarations)
    string(REGEX MATCH "([A-Za-z_0-9]+)\\($" name "${declaration}")
    list(APPEND names "${CMAKE_MATCH_1}")
  endforeach()
  list(LENGTH names count)
  if(count LESS 21)
    message(FATAL_ERROR "${header} declares ${count} STRIDELOG_API functions; the 21 entry points are missing")
  endif()
  list(JOIN names ";\n    " globals)
  file(CONFIGURE OUTPUT ${output} CONTENT "STRIDELOG_2 {\n  global:\n    ${globals};\n  local: *;\n};\n")
endfunction()
