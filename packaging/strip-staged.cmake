# Run by CPack on the staged tree before it is packed: strip the daemon as
# Debian's own tools do, dropping the .comment and .note sections too.
file(GLOB_RECURSE daemons "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/sbin/quorinDaemon")
foreach(daemon IN LISTS daemons)
    execute_process(COMMAND strip --remove-section=.comment --remove-section=.note
                            --strip-unneeded "${daemon}"
                    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
if(NOT daemons)
    message(FATAL_ERROR "no quorinDaemon in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
