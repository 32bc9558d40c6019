# Run by cpack: dates every entry of the package at the last commit, so that
# packages built from the same commit are identical whenever and wherever they
# are built. CPack takes the time from SOURCE_DATE_EPOCH; one already set in
# the environment (as a distribution's build sets it) is kept. Outside a git
# checkout it stays unset, and the entries carry the time of packaging.
if(DEFINED ENV{SOURCE_DATE_EPOCH} OR NOT HORNSET_GIT)
    return()
endif()
execute_process(COMMAND "${HORNSET_GIT}" -C "${HORNSET_SOURCE_DIR}" log -1 --format=%ct
                OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE failed ERROR_QUIET)
if(NOT failed AND epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
