# Fails unless FILE needs nothing but the C library (LIBC) and, at most, its own dynamic loader,
# which every dynamic program loads anyway (on ARM and MIPS the stack protector's canary is there).
execute_process(COMMAND ${READELF} -d -l ${FILE} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" needed "${dynamic}")
string(REGEX MATCH "Requesting program interpreter: [^]\n]*/([^]/\n]+)\\]" loader "${dynamic}")
set(loader "${CMAKE_MATCH_1}")
set(others ${needed})
list(REMOVE_ITEM others "Shared library: [${LIBC}]" "Shared library: [${loader}]")
if(NOT status EQUAL 0 OR NOT needed MATCHES "Shared library: \\[${LIBC}\\]" OR others)
    message(FATAL_ERROR "${FILE} needs (${READELF} status ${status}): ${needed}; "
        "expected only ${LIBC} and its loader ${loader}")
endif()
message(STATUS "${FILE} needs only the C library: ${needed}")
