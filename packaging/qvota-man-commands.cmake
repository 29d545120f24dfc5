# Writes a help2man include file with the help of each qvota command, so that the man page
# carries the options of flash, station, info and ports as the program prints them.
# Usage: cmake -DQVOTA=path/to/qvota -DOUTPUT=file -P qvota-man-commands.cmake
set(text "[COMMANDS IN DETAIL]\n")
foreach(command flash station info ports)
    execute_process(COMMAND ${QVOTA} ${command} --help
        OUTPUT_VARIABLE help RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "qvota ${command} --help exited ${result}")
    endif()
    # roff: a backslash is written \e, and a line may not begin with a control character.
    string(REPLACE "\\" "\\e" help "${help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
    string(APPEND text ".SS \"qvota ${command}\"\n.nf\n${help}.fi\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
