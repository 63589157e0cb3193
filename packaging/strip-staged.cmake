# Run by CPack on the staged tree before it is packed: strip the daemon and
# the calibration program as Debian's own tools do, dropping the .comment
# and .note sections too, with the strip of the target's architecture.
file(GLOB_RECURSE daemons "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/sbin/quorinDaemon")
file(GLOB_RECURSE calibrators "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/quorin-calibrate")
foreach(program IN LISTS daemons calibrators)
    execute_process(COMMAND ${CPACK_QUORIN_STRIP} --remove-section=.comment --remove-section=.note
                            --strip-unneeded "${program}"
                    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
if(NOT daemons)
    message(FATAL_ERROR "no quorinDaemon in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
