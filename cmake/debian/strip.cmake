# Run by CPack on the staged files, before they are packed: strips every ELF file as
# Debian's own packaging tools do, removing the compiler's .comment and the .note
# section as well as the symbols. Other note sections stay: the program's version
# lives in one (.note.odomira.version).
cmake_policy(VERSION 3.25)
if(NOT CPACK_ODOMIRA_STRIP)
    message(FATAL_ERROR "strip.cmake: no strip program was found when the build was configured")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS files)
    if(IS_SYMLINK "${file}")
        continue()
    endif()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(NOT magic STREQUAL "7f454c46")
        continue()
    endif()
    set(how --remove-section=.comment --remove-section=.note)
    get_filename_component(name "${file}" NAME)
    if(name MATCHES "\\.so(\\.[0-9]+)*$")
        # A library keeps the symbols it exports and loses only what linking needs not.
        list(APPEND how --strip-unneeded)
    endif()
    execute_process(COMMAND ${CPACK_ODOMIRA_STRIP} ${how} "${file}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "strip.cmake: ${CPACK_ODOMIRA_STRIP} failed on ${file}")
    endif()
endforeach()
