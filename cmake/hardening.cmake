# Hardening of the release builds, with the flags Debian builds its packages
# with by default: stack protector, fortified C library calls, format-string
# checks, read-only relocations and a position-independent executable (not for
# a static link). Defines the interface library hornset_hardening, which
# carries them for the release configurations only (Release, MinSizeRel,
# RelWithDebInfo).
#
# Symbols stay lazily bound, as in Debian's defaults: binding all of them at
# start-up costs a short run such as hornset's 4 to 9% more instructions.
# A packager who wants it adds -Wl,-z,now to LDFLAGS.
#
# Flags handed in by a distribution or a packager (CFLAGS, CXXFLAGS, LDFLAGS,
# CMAKE_<LANG>_FLAGS[_<CONFIG>], CMAKE_EXE_LINKER_FLAGS[_<CONFIG>]) win: a
# measure they already set either way, e.g. -D_FORTIFY_SOURCE=3,
# -fno-stack-protector or -Wl,-z,norelro, is left to them. HORNSET_HARDENING=OFF
# leaves all of them to the build's own flags.
#
# Included by the top-level project and by the footprint benchmark's floor, so
# that both are built alike. HORNSET_STATIC, HORNSET_SANITIZE and
# HORNSET_BUILD_FUZZERS are read when set.

option(HORNSET_HARDENING "Release builds get stack protector, fortified calls, format checks, RELRO and PIE" ON)

add_library(hornset_hardening INTERFACE)

# The sanitizer and fuzz builds instrument everything themselves, and the fuzz
# targets must see the unfortified calls.
if(NOT HORNSET_HARDENING OR HORNSET_SANITIZE OR HORNSET_BUILD_FUZZERS)
    return()
endif()

set(hornset_handed_in_compile_flags "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS}")
set(hornset_handed_in_link_flags "${CMAKE_EXE_LINKER_FLAGS}")
foreach(config RELEASE MINSIZEREL RELWITHDEBINFO)
    string(APPEND hornset_handed_in_compile_flags " ${CMAKE_C_FLAGS_${config}} ${CMAKE_CXX_FLAGS_${config}}")
    string(APPEND hornset_handed_in_link_flags " ${CMAKE_EXE_LINKER_FLAGS_${config}}")
endforeach()

set(hornset_compile_hardening "")
set(hornset_link_hardening "")
if(NOT hornset_handed_in_compile_flags MATCHES "_FORTIFY_SOURCE")
    list(APPEND hornset_compile_hardening -D_FORTIFY_SOURCE=2)
endif()
if(NOT hornset_handed_in_compile_flags MATCHES "stack-protector")
    list(APPEND hornset_compile_hardening -fstack-protector-strong)
endif()
if(NOT hornset_handed_in_compile_flags MATCHES "-W(no-)?format")
    list(APPEND hornset_compile_hardening -Wformat -Werror=format-security)
endif()
# musl makes the RELRO segment read-only in its dynamic loader only: in a static
# musl binary nothing would protect it, and it would only pad the file (the
# linker makes one by default, so it is turned off).
if(NOT hornset_handed_in_link_flags MATCHES "relro")
    if(HORNSET_STATIC AND hornset_c_library STREQUAL "musl")
        list(APPEND hornset_link_hardening -Wl,-z,norelro)
    else()
        list(APPEND hornset_link_hardening -Wl,-z,relro)
    endif()
endif()
# Position independence: most toolchains default to it already; this makes it
# explicit for those that do not. A static link is left as it is.
if(NOT HORNSET_STATIC
   AND NOT hornset_handed_in_link_flags MATCHES "-static"
   AND NOT hornset_handed_in_compile_flags MATCHES "-f(no-)?(pie|PIE|pic|PIC)"
   AND NOT hornset_handed_in_link_flags MATCHES "-(no-)?pie")
    list(APPEND hornset_compile_hardening -fPIE)
    list(APPEND hornset_link_hardening -pie)
endif()

set(hornset_release_config "$<OR:$<CONFIG:Release>,$<CONFIG:MinSizeRel>,$<CONFIG:RelWithDebInfo>>")
target_compile_options(hornset_hardening INTERFACE
    "$<${hornset_release_config}:${hornset_compile_hardening}>")
target_link_options(hornset_hardening INTERFACE "$<${hornset_release_config}:${hornset_link_hardening}>")
