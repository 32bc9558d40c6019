# The target table, targets.tsv, for CMake: toolchain files and packaging take
# every per-board fact from it.
#   hornset_target_facts(ARCH)    sets hornset_target_<column> for each column of
#                                ARCH's row ("-" becomes empty); an unknown
#                                one is an error that names the known ones
#   hornset_targets(OUT)          the names of all architectures, in order
#   hornset_toolchain_target(FILE)  for the toolchain file FILE: the facts of the
#                                architecture HORNSET_TARGET names, which the checks
#                                CMake compiles with the file see too
#   hornset_build_target(OUT)    the architecture this build is for: HORNSET_TARGET,
#                                else the row whose GNU triple is the compiler's
#                                multiarch triplet, else the first whose processor
#                                is the target's (32-bit ARM: armhf); empty if none
include_guard(GLOBAL)
set(hornset_targets_table "${CMAKE_CURRENT_LIST_DIR}/../targets.tsv")

# The table read: hornset_target_header, its column names, and hornset_target_rows, each row's fields
# joined by "|". Columns are separated by one or more tabs; "#" starts a comment line. A row with
# another number of fields than the header is an error that names its line.
macro(hornset_target_rows)
    file(READ "${hornset_targets_table}" hornset_target_text)
    # A ";" (the comments have some) would split a line in two.
    string(REPLACE ";" "," hornset_target_text "${hornset_target_text}")
    string(REPLACE "\n" ";" hornset_target_lines "${hornset_target_text}")
    unset(hornset_target_header)
    set(hornset_target_rows "")
    set(hornset_target_number 0)
    foreach(line IN LISTS hornset_target_lines)
        math(EXPR hornset_target_number "${hornset_target_number} + 1")
        string(STRIP "${line}" line)
        if(line STREQUAL "" OR line MATCHES "^#")
            continue()
        endif()
        string(REGEX REPLACE "\t+" ";" fields "${line}")
        list(LENGTH fields count)
        if(NOT DEFINED hornset_target_header)
            set(hornset_target_header "${fields}")
            list(LENGTH fields hornset_target_columns)
        elseif(NOT count EQUAL hornset_target_columns)
            message(FATAL_ERROR "${hornset_targets_table}:${hornset_target_number}: ${count} fields "
                "where the header has ${hornset_target_columns}")
        else()
            string(REPLACE ";" "|" line "${fields}")
            list(APPEND hornset_target_rows "${line}")
        endif()
    endforeach()
endmacro()

function(hornset_targets out)
    hornset_target_rows()
    set(names "")
    foreach(row IN LISTS hornset_target_rows)
        string(REGEX MATCH "^[^|]+" name "${row}")
        list(APPEND names "${name}")
    endforeach()
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

function(hornset_target_facts board)
    hornset_target_rows()
    foreach(row IN LISTS hornset_target_rows)
        string(REPLACE "|" ";" fields "${row}")
        list(GET fields 0 name)
        if(NOT name STREQUAL board)
            continue()
        endif()
        set(index 0)
        foreach(column IN LISTS hornset_target_header)
            list(GET fields ${index} value)
            math(EXPR index "${index} + 1")
            if(value STREQUAL "-")
                set(value "")
            endif()
            set(hornset_target_${column} "${value}" PARENT_SCOPE)
        endforeach()
        return()
    endforeach()
    hornset_targets(known)
    string(REPLACE ";" ", " known "${known}")
    message(FATAL_ERROR "HORNSET_TARGET '${board}' is not in targets.tsv (${known})")
endfunction()

macro(hornset_toolchain_target file)
    if(NOT HORNSET_TARGET)
        message(FATAL_ERROR "${file} needs HORNSET_TARGET, an architecture of targets.tsv")
    endif()
    list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HORNSET_TARGET)
    hornset_target_facts(${HORNSET_TARGET})
endmacro()

function(hornset_build_target out)
    set(found "${HORNSET_TARGET}")
    if(NOT found)
        string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" processor)
        hornset_targets(names)
        foreach(candidate IN LISTS names)
            hornset_target_facts(${candidate})
            if(hornset_target_triple STREQUAL CMAKE_LIBRARY_ARCHITECTURE)
                set(found ${candidate})
                break()
            elseif(NOT by_processor AND hornset_target_processor STREQUAL processor)
                set(by_processor ${candidate})
            endif()
        endforeach()
        if(NOT found)
            set(found "${by_processor}")
        endif()
    endif()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()
