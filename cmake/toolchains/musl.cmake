# Shared part of the toolchain files for a hornset built against musl, with
# Debian's own packages: musl-tools (x86-64) or musl-dev:ARCH (the boards,
# through multiarch), and g++ or g++-TRIPLE, for the architecture HORNSET_TARGET of
# targets.tsv (cmake/toolchains/musl-ARCH.cmake name it themselves):
#   cmake -S . -B build/musl -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl.cmake -DHORNSET_TARGET=armhf -DHORNSET_STATIC=ON
# musl's triple, the GNU triple of the C++ compiler and, for a board other
# than this machine, its processor come from the table.
#
# C sources and every link go through musl's wrapper, TRIPLE-gcc. There is no
# C++ library for musl, and hornset needs none: its C++ sources are compiled
# by g++ against musl's headers, with libstdc++'s header-only wrappers
# (<cstdio> and the like) in front of them. hornset, the emulated board's
# libhornemu.so and its runner hornemu build this way; the test programs need
# the C++ library and are built against glibc (scripts/test musl).

include(${CMAKE_CURRENT_LIST_DIR}/../targets.cmake)
hornset_toolchain_target(musl.cmake)
if(NOT hornset_target_musl)
    message(FATAL_ERROR "targets.tsv names no musl triple for ${HORNSET_TARGET}")
endif()
set(hornset_musl_triple ${hornset_target_musl})
set(hornset_gnu_triple ${hornset_target_triple})
if(hornset_target_qemu)
    set(CMAKE_SYSTEM_NAME Linux)
    set(CMAKE_SYSTEM_PROCESSOR ${hornset_target_processor})
endif()

# Read by the hardening settings: musl's start-up code differs from glibc's.
set(hornset_c_library musl)

set(CMAKE_C_COMPILER ${hornset_musl_triple}-gcc)
set(CMAKE_CXX_COMPILER ${hornset_gnu_triple}-g++)

# g++'s own search list, less the C library's directories: musl's headers take
# their place, behind the C++ directories so that their #include_next works.
execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -xc++ -E -v -
    INPUT_FILE /dev/null
    OUTPUT_QUIET
    ERROR_VARIABLE hornset_search_report
    RESULT_VARIABLE hornset_failed)
if(hornset_failed)
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} cannot be run; install g++ for ${hornset_gnu_triple}")
endif()
execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
    OUTPUT_VARIABLE hornset_gcc_include
    OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "#include <\\.\\.\\.> search starts here:\n(.*)\nEnd of search list"
    hornset_search_list "${hornset_search_report}")
string(REPLACE "\n" ";" hornset_search_list "${CMAKE_MATCH_1}")
set(hornset_musl_cxx_flags "-nostdinc")
foreach(directory IN LISTS hornset_search_list)
    string(STRIP "${directory}" directory)
    if(directory MATCHES "/c\\+\\+/")
        string(APPEND hornset_musl_cxx_flags " -isystem ${directory}")
    endif()
endforeach()
set(hornset_musl_include /usr/include/${hornset_musl_triple})
if(NOT EXISTS ${hornset_musl_include}/stdio.h)
    message(FATAL_ERROR "musl's headers are not in ${hornset_musl_include}; install musl-dev for this architecture")
endif()
string(APPEND hornset_musl_cxx_flags
    " -isystem ${hornset_musl_include} -isystem ${hornset_gcc_include}"
    " -include ${CMAKE_CURRENT_LIST_DIR}/musl-glibc-prereq.h")
set(CMAKE_CXX_FLAGS_INIT "${hornset_musl_cxx_flags}")

# Every link goes through musl's C driver, also of a target CMake would link as
# C++: g++ would make it a glibc program built with musl's headers. A target
# that needs the C++ library then fails to link instead.
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_C_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
set(CMAKE_CXX_CREATE_SHARED_LIBRARY
    "<CMAKE_C_COMPILER> <CMAKE_SHARED_LIBRARY_CXX_FLAGS> <LANGUAGE_COMPILE_FLAGS> <LINK_FLAGS> <CMAKE_SHARED_LIBRARY_CREATE_CXX_FLAGS> <SONAME_FLAG><TARGET_SONAME> -o <TARGET> <OBJECTS> <LINK_LIBRARIES>")

# When the C driver links C++ objects, CMake adds the C++ compiler's implicit
# libraries and their directories: g++'s own made -lc silently take glibc's
# libc.a. They are cleared once the compilers are known.
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/musl-link.cmake)
