# Run by cpack once the files are staged, before it packs them: the
# directories that installing made carry the modes the umask left them, and
# a package's directories are 0755 whatever the packager's umask is.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
set(directories "")
foreach(entry IN LISTS entries)
    if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
        list(APPEND directories "${entry}")
    endif()
endforeach()
if(directories)
    execute_process(COMMAND chmod 0755 ${directories} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Cannot set the modes of the staged directories")
    endif()
endif()
