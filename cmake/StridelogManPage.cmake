# cmake -DHELP2MAN=... -DPROGRAM=... -DNAME=... -DVERSION=... -DINCLUDE=<.h2m>
#       [-DSUBCOMMANDS=a;b] -DOUTPUT=... -P StridelogManPage.cmake
# A man page from the program's --help, with the sections of the .h2m file and,
# for each subcommand named, its own --help as a section.
file(READ ${INCLUDE} sections)
foreach(sub IN LISTS SUBCOMMANDS)
  execute_process(COMMAND ${PROGRAM} ${sub} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${sub} --help failed")
  endif()
  get_filename_component(program_name ${PROGRAM} NAME)
  string(REPLACE "${PROGRAM}" "${program_name}" help "${help}")
  string(REPLACE "\\" "\\\\" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(TOUPPER "${sub}" title)
  string(APPEND sections "\n[${title}]\n.nf\n${help}.fi\n")
endforeach()
get_filename_component(out_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${out_dir})
set(include_file ${OUTPUT}.h2m)
file(WRITE ${include_file} "${sections}")
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --name=${NAME} --version-string=${VERSION}
          --include=${include_file} --output=${OUTPUT} ${PROGRAM}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM}")
endif()
