# Fails unless FILE needs nothing but the C library (LIBC: libc.so.6 or musl's
# libc.so) and, at most, FILE's own dynamic loader, which every dynamically
# linked program loads anyway (on ARM and MIPS the stack protector's canary
# lives there).
execute_process(COMMAND ${READELF} -d -l ${FILE} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${READELF} -d -l ${FILE} failed")
endif()
string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" needed "${dynamic}")
set(loader "")
if(dynamic MATCHES "Requesting program interpreter: [^]\n]*/([^]/\n]+)\\]")
    set(loader "${CMAKE_MATCH_1}")
endif()
set(others ${needed})
list(REMOVE_ITEM others "Shared library: [${LIBC}]" "Shared library: [${loader}]")
if(NOT needed MATCHES "Shared library: \\[${LIBC}\\]" OR others)
    message(FATAL_ERROR "${FILE} needs: ${needed}; expected only ${LIBC} and its loader ${loader}")
endif()
message(STATUS "${FILE} needs only the C library: ${needed}")
