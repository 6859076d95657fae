# cmake -DPROGRAM=<path> -DNAME=<program name> -DDIR=<folder> -P write_fragments.cmake
# Runs a command program with DOCBOOK set in an empty folder, where it writes the DocBook
# fragments of its name, synopsis and options. Without arguments or a server the program
# ends with status 1 after writing them; only the files count. Variables that would send
# its log or a notification elsewhere, or make it a CGI program, are taken away.
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=REQUEST_URI --unset=ZYMBSTDERRDIR
            --unset=ZYMBSLACKURL --unset=ZYMBINETD DOCBOOK=1 ${PROGRAM}
    WORKING_DIRECTORY ${DIR}
    INPUT_FILE /dev/null
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
foreach(part refnamediv refsynopsisdiv options)
    if(NOT EXISTS ${DIR}/${NAME}_${part}.xml)
        message(FATAL_ERROR "${PROGRAM} wrote no ${NAME}_${part}.xml with DOCBOOK set:\n${output}")
    endif()
endforeach()
