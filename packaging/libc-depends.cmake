# Run by cpack: sets the package's dependencies: libc6, at the newest C library
# that provides every versioned symbol the binary uses (GLIBC_x.y), and passwd,
# whose groupadd the postinst runs.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS passwd)
if(NOT EXISTS "${HORNSET_BINARY}")
    message(FATAL_ERROR "hornset is not built yet: ${HORNSET_BINARY}")
endif()
execute_process(COMMAND "${HORNSET_READELF}" --version-info --wide "${HORNSET_BINARY}"
                OUTPUT_VARIABLE versions RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${HORNSET_READELF} cannot read ${HORNSET_BINARY}")
endif()
execute_process(COMMAND "${HORNSET_READELF}" --dynamic --wide "${HORNSET_BINARY}"
                OUTPUT_VARIABLE dynamic)

if(NOT dynamic MATCHES "\\(NEEDED\\)")
    # Statically linked: no C library to depend on.
    return()
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]*\\]" needed "${dynamic}")
foreach(line IN LISTS needed)
    string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" library "${line}")
    if(NOT library MATCHES "^(libc\\.so\\.6|ld-linux.*|ld\\.so\\.1|libc\\.so\\.6\\.1)$")
        message(FATAL_ERROR "hornset needs ${library}; it must depend on the C library alone")
    endif()
endforeach()

set(newest "")
string(REGEX MATCHALL "GLIBC_[0-9]+(\\.[0-9]+)*" tags "${versions}")
foreach(tag IN LISTS tags)
    string(REPLACE "GLIBC_" "" version "${tag}")
    if(newest STREQUAL "" OR version VERSION_GREATER newest)
        set(newest "${version}")
    endif()
endforeach()
if(newest STREQUAL "")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, passwd")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${newest}), passwd")
endif()
