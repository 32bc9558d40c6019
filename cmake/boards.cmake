# The board table, boards.tsv, for CMake: toolchain files and packaging take
# every per-board fact from it.
#   hornset_board_facts(ARCH)    sets hornset_board_<column> for each column of
#                                ARCH's row ("-" becomes empty); an unknown
#                                board is an error that names the known ones
#   hornset_boards(OUT)          the names of all boards, in the table's order
#   hornset_toolchain_board(FILE)  for the toolchain file FILE: the facts of the
#                                board HORNSET_BOARD names, which the checks
#                                CMake compiles with the file see too
include_guard(GLOBAL)
set(hornset_boards_table "${CMAKE_CURRENT_LIST_DIR}/../boards.tsv")

# The table read: hornset_board_header, its column names, and hornset_board_rows, each row's fields
# joined by "|". Columns are separated by one or more tabs; "#" starts a comment line. A row with
# another number of fields than the header is an error that names its line.
macro(hornset_board_rows)
    file(READ "${hornset_boards_table}" hornset_board_text)
    # A ";" (the comments have some) would split a line in two.
    string(REPLACE ";" "," hornset_board_text "${hornset_board_text}")
    string(REPLACE "\n" ";" hornset_board_lines "${hornset_board_text}")
    unset(hornset_board_header)
    set(hornset_board_rows "")
    set(hornset_board_number 0)
    foreach(line IN LISTS hornset_board_lines)
        math(EXPR hornset_board_number "${hornset_board_number} + 1")
        string(STRIP "${line}" line)
        if(line STREQUAL "" OR line MATCHES "^#")
            continue()
        endif()
        string(REGEX REPLACE "\t+" ";" fields "${line}")
        list(LENGTH fields count)
        if(NOT DEFINED hornset_board_header)
            set(hornset_board_header "${fields}")
            list(LENGTH fields hornset_board_columns)
        elseif(NOT count EQUAL hornset_board_columns)
            message(FATAL_ERROR "${hornset_boards_table}:${hornset_board_number}: ${count} fields "
                "where the header has ${hornset_board_columns}")
        else()
            string(REPLACE ";" "|" line "${fields}")
            list(APPEND hornset_board_rows "${line}")
        endif()
    endforeach()
endmacro()

function(hornset_boards out)
    hornset_board_rows()
    set(names "")
    foreach(row IN LISTS hornset_board_rows)
        string(REGEX MATCH "^[^|]+" name "${row}")
        list(APPEND names "${name}")
    endforeach()
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

function(hornset_board_facts board)
    hornset_board_rows()
    foreach(row IN LISTS hornset_board_rows)
        string(REPLACE "|" ";" fields "${row}")
        list(GET fields 0 name)
        if(NOT name STREQUAL board)
            continue()
        endif()
        set(index 0)
        foreach(column IN LISTS hornset_board_header)
            list(GET fields ${index} value)
            math(EXPR index "${index} + 1")
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
