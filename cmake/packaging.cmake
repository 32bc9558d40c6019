# Debian package of the tool: run `cpack -G DEB` in a configured and built
# build directory. Works for native and cross builds alike: the architecture
# and the C library dependency come from the target, never from the build
# machine's dpkg.

set(HORNSET_DEB_ARCHITECTURE "" CACHE STRING
    "Debian architecture of the package (empty: derived from the target)")

# Debian's name for the target architecture, from the compiler's multiarch
# triplet when it has one, else from the processor name and byte order.
function(hornset_debian_architecture out)
    set(triplet "${CMAKE_LIBRARY_ARCHITECTURE}")
    set(processor "${CMAKE_SYSTEM_PROCESSOR}")
    string(TOLOWER "${processor}" processor)
    if(triplet MATCHES "^x86_64-linux-gnu$" OR (NOT triplet AND processor MATCHES "^(x86_64|amd64)$"))
        set(arch amd64)
    elseif(triplet MATCHES "^i[3-6]86-linux-gnu$" OR (NOT triplet AND processor MATCHES "^i[3-6]86$"))
        set(arch i386)
    elseif(triplet MATCHES "^aarch64-linux-gnu$" OR (NOT triplet AND processor MATCHES "^(aarch64|arm64)$"))
        set(arch arm64)
    elseif(triplet MATCHES "^arm-linux-gnueabihf$")
        set(arch armhf)
    elseif(triplet MATCHES "^arm-linux-gnueabi$")
        set(arch armel)
    elseif(NOT triplet AND processor MATCHES "^arm")
        # Without a triplet the float ABI is unknown; armhf is what current
        # boards run. Set HORNSET_DEB_ARCHITECTURE=armel for soft-float.
        set(arch armhf)
    elseif(triplet MATCHES "^mipsel-linux-gnu$")
        set(arch mipsel)
    elseif(triplet MATCHES "^mips-linux-gnu$")
        set(arch mips)
    elseif(triplet MATCHES "^mips64el-linux-gnuabi64$")
        set(arch mips64el)
    elseif(NOT triplet AND processor MATCHES "^mips")
        if(CMAKE_C_BYTE_ORDER STREQUAL "LITTLE_ENDIAN")
            set(arch mipsel)
        else()
            set(arch mips)
        endif()
    elseif(triplet MATCHES "^riscv64-linux-gnu$" OR (NOT triplet AND processor STREQUAL "riscv64"))
        set(arch riscv64)
    elseif(triplet MATCHES "^powerpc64le-linux-gnu$" OR (NOT triplet AND processor STREQUAL "ppc64le"))
        set(arch ppc64el)
    elseif(triplet MATCHES "^powerpc-linux-gnu$" OR (NOT triplet AND processor MATCHES "^(powerpc|ppc)$"))
        set(arch powerpc)
    else()
        message(WARNING "No Debian architecture known for '${triplet}' / '${processor}'; "
                        "set HORNSET_DEB_ARCHITECTURE to package for it.")
        set(arch "${processor}")
    endif()
    set(${out} "${arch}" PARENT_SCOPE)
endfunction()

if(HORNSET_DEB_ARCHITECTURE)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${HORNSET_DEB_ARCHITECTURE}")
else()
    hornset_debian_architecture(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
endif()

set(CPACK_PACKAGE_NAME hornset)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${HORNSET_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set and query an embedded board's buzzer")
set(CPACK_PACKAGE_DESCRIPTION
    "hornset sets and queries the buzzer of an embedded Linux board through the\n"
    "buzzer driver's device /dev/hornio, after identifying the board from\n"
    "/proc/lampstat. It depends on the C library alone.")
string(CONCAT CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/staged-modes.cmake")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# Worked out when cpack runs: the dependency on libc6, from the symbol
# versions the built binary needs (dpkg-shlibdeps cannot see a cross target's
# C library; a static binary needs none and gets no dependency), and the date
# of every entry, the last commit's (SOURCE_DATE_EPOCH), so that packages of
# one commit are identical.
find_program(HORNSET_READELF NAMES ${CMAKE_READELF} readelf)
find_program(HORNSET_GIT git)
file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/hornset-cpack-project.cmake" CONTENT
"set(HORNSET_GIT \"${HORNSET_GIT}\")
set(HORNSET_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
include(\"${PROJECT_SOURCE_DIR}/packaging/source-date.cmake\")
set(HORNSET_BINARY \"$<TARGET_FILE:hornset>\")
set(HORNSET_READELF \"${HORNSET_READELF}\")
include(\"${PROJECT_SOURCE_DIR}/packaging/libc-depends.cmake\")
")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_BINARY_DIR}/hornset-cpack-project.cmake")

# The lintian tags that remain, each with its reason: for the Debian package
# alone, so `cmake --install` (as image builders run it) leaves them out. The
# package takes everything `cmake --install` does plus this component.
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME hornset COMPONENT debian EXCLUDE_FROM_ALL)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};hornset;ALL;/" "${CMAKE_BINARY_DIR};hornset;debian;/")

include(CPack)
