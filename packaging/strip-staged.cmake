# Run by CPack on the staged tree before it is packed: strip the daemon as
# Debian's own tools do, dropping the .comment and .note sections too, with
# the strip of the daemon's architecture.
file(GLOB_RECURSE daemons "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/sbin/quorinDaemon")
foreach(daemon IN LISTS daemons)
    execute_process(COMMAND ${CPACK_QUORIN_STRIP} --remove-section=.comment --remove-section=.note
                            --strip-unneeded "${daemon}"
                    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
if(NOT daemons)
    message(FATAL_ERROR "no quorinDaemon in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
