# The board table, boards.tsv, for CMake: toolchain files and packaging take
# every per-board fact from it.
#   hornset_board_facts(BOARD)   sets hornset_board_<column> for each column of
#                                BOARD's row ("-" becomes empty); an unknown
#                                board is an error that names the known ones
#   hornset_boards(OUT)          the names of all boards, in the table's order
#   hornset_toolchain_board(FILE)  for the toolchain file FILE: the facts of the
#                                board HORNSET_BOARD names, which the checks
#                                CMake compiles with the file see too
include_guard(GLOBAL)
set(hornset_boards_table "${CMAKE_CURRENT_LIST_DIR}/../boards.tsv")

# The table's rows as lists, its header first. Columns are separated by one or
# more tabs; "#" starts a comment line.
macro(hornset_board_rows)
    file(STRINGS "${hornset_boards_table}" hornset_board_lines REGEX "^[^#]")
    list(FILTER hornset_board_lines INCLUDE REGEX "[^ \t]")
    list(GET hornset_board_lines 0 hornset_board_header)
    string(REGEX REPLACE "\t+" ";" hornset_board_header "${hornset_board_header}")
    list(REMOVE_AT hornset_board_lines 0)
endmacro()

function(hornset_boards out)
    hornset_board_rows()
    set(names "")
    foreach(line IN LISTS hornset_board_lines)
        string(REGEX MATCH "^[^\t]+" name "${line}")
        list(APPEND names "${name}")
    endforeach()
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

function(hornset_board_facts board)
    hornset_board_rows()
    foreach(line IN LISTS hornset_board_lines)
        string(REGEX REPLACE "\t+" ";" fields "${line}")
        list(GET fields 0 name)
        if(NOT name STREQUAL board)
            continue()
        endif()
        foreach(column IN LISTS hornset_board_header)
            list(FIND hornset_board_header ${column} index)
            list(GET fields ${index} value)
            if(value STREQUAL "-")
                set(value "")
            endif()
            set(hornset_board_${column} "${value}" PARENT_SCOPE)
        endforeach()
        return()
    endforeach()
    hornset_boards(known)
    string(REPLACE ";" ", " known "${known}")
    message(FATAL_ERROR "HORNSET_BOARD '${board}' is not in boards.tsv (${known})")
endfunction()

macro(hornset_toolchain_board file)
    if(NOT HORNSET_BOARD)
        message(FATAL_ERROR "${file} needs HORNSET_BOARD, a board of boards.tsv")
    endif()
    list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HORNSET_BOARD)
    hornset_board_facts(${HORNSET_BOARD})
endmacro()
