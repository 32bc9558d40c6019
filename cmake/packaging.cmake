# Debian package of the tool: run `cpack -G DEB` in a configured and built
# build directory. Works for native and cross builds alike: the architecture
# and the C library dependency come from the target, never from the build
# machine's dpkg.

set(HORNSET_DEB_ARCHITECTURE "" CACHE STRING
    "Debian architecture of the package (empty: derived from the target)")

# Debian's name for the target architecture, from targets.tsv's row for this
# build (for 32-bit ARM without a toolchain file that is armhf, what current
# boards run: set HORNSET_DEB_ARCHITECTURE=armel for soft-float).
function(hornset_debian_architecture out)
    include(${PROJECT_SOURCE_DIR}/cmake/targets.cmake)
    hornset_build_target(arch)
    if(arch)
        hornset_target_facts(${arch})
        set(${out} "${hornset_target_deb_arch}" PARENT_SCOPE)
    else()
        message(WARNING "No architecture of targets.tsv matches '${CMAKE_LIBRARY_ARCHITECTURE}' / "
                        "'${CMAKE_SYSTEM_PROCESSOR}'; set HORNSET_DEB_ARCHITECTURE to package for it.")
        set(${out} "${CMAKE_SYSTEM_PROCESSOR}" PARENT_SCOPE)
    endif()
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
    "/proc/lampstat. Installing it creates the system group buzzer, whose\n"
    "members may drive the buzzer without root.")
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

# For the Debian package alone, so that `cmake --install` (as image builders
# run it) leaves them out: the lintian tags that remain, each with its reason,
# and the udev rule, active in udev's directory for packages' rules, where the
# maintainer script that creates its group goes with it. The package takes
# everything `cmake --install` does but the rule's inactive copy (component
# rule-example), plus this component.
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME hornset COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES packaging/60-hornset.rules DESTINATION /lib/udev/rules.d COMPONENT debian EXCLUDE_FROM_ALL)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};hornset;Unspecified;/"
    "${CMAKE_BINARY_DIR};hornset;debian;/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/debian/postinst")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
