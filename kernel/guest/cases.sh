#!/bin/sh
# End-to-end cases of hornset against the stand-in drivers, for every build of
# the guest; sourced by /init after module.sh. Runners and helpers: lib.sh.
REQ="lamp 'hornsim lamp driver|model: RX-100 rev1'"
USAGE='Usage: hornset [-options] [value]\n'
OPTLIST='\tAllowed options are:\n\t-d    Show Buzzer Status.\n\t-t    Buzzer Period.\n\t-c    Repeat Count.\n\t-p    Buzzer Pattern.\n'
NOPROC='fail to open /proc/lampstat\n'
BADPAR='Error: Invalid parameter.\n'
HELP='Usage: hornset [off time] [on time] [count]\n--help     : help\n--version  : version\noff time : 1-255\non time  : 1-255\ncount    : 0-255 (255 = buzzer always running.)\n'

# Texts built once: patterns at the limits of the 2000-byte buffers, a 2000-byte
# reply, a first proc line longer than the tool's 1024-byte line buffer.
P1991=$(rep a 1991)
P1992=$(rep a 1992)
P2000=$(rep a 2000)
rep 0123456789 200 >/tmp/reply2000
LONGLINE="$(rep x 1030)QTR-PN$(rep y 60)"

# The module's default proc file names QTR-PN: every case starts on that board.
for hornset_build in $HORNSETS; do
    kind=${hornset_build%%:*}
    libc_texts "${hornset_build#*:}"
    PATH=/opt/$kind/bin:/bin

    # QTR-PN board: the option dialect, command write and status read.
    tc "write period" '' 0 'cmd for hornio="period 10"\n' '' \
        'open 1 rdwr; write 1 9 "period 10"; read 0; ioctl 0' -t 10
    tc "write all three" '' 0 'cmd for hornio="period 10 count 3 pattern xyz"\n' '' \
        'open 1 rdwr; write 1 29 "period 10 count 3 pattern xyz"; read 0; ioctl 0' -t 10 -c 3 -p xyz
    tc "write count and pattern" '' 0 'cmd for hornio="count 3 pattern xyz"\n' '' \
        'open 1 rdwr; write 1 19 "count 3 pattern xyz"; read 0; ioctl 0' -c 3 -p xyz
    tc "write negative period, pattern with spaces" '' 0 'cmd for hornio="period -4 pattern a b"\n' '' \
        'open 1 rdwr; write 1 21 "period -4 pattern a b"; read 0; ioctl 0' -t -4 -p 'a b'
    tc "write pattern with percent" '' 0 'cmd for hornio="pattern 100%% %%s"\n' '' \
        'open 1 rdwr; write 1 15 "pattern 100% %s"; read 0; ioctl 0' -p '100% %s'
    tc "write largest int period" '' 0 'cmd for hornio="period 2147483647"\n' '' \
        'open 1 rdwr; write 1 17 "period 2147483647"; read 0; ioctl 0' -t 2147483647
    tc "write longest command" '' 0 "cmd for hornio=\"pattern $P1991\"\\n" '' \
        "open 1 rdwr; write 1 1999 \"pattern $P1991\"; read 0; ioctl 0" -p "$P1991"
    tc "command too long" '' 1 '' "Error: hornset - command too long\\n$USAGE" "$NOTHING" -p "$P1992"
    tc "pattern too long" '' 1 '' "Error: hornset - pattern too long\\n$USAGE" "$NOTHING" -p "$P2000"
    tc "period beyond int" '' 1 '' "Error: hornset - invalid period value\\n$USAGE" "$NOTHING" -t 99999999999
    tc "no arguments" '' 1 "$OPTLIST" "Error: hornset - too few arguments\\n$USAGE" "$NOTHING"
    tc "unknown option" '' 1 "$OPTLIST" "$BADOPT_X\\nError: hornset - invalid option\\n$USAGE" \
        "$NOTHING" -x
    tc "period without pattern and count" '' 1 '' "Error: hornset - no pattern option\\n$USAGE" "$NOTHING" -t 10 -c 3
    tc "positional words on QTR-PN" '' 1 '' "Error: hornset - no pattern or period option\\n$USAGE" "$NOTHING" 5 5 5
    tc "status idle" '' 0 'status: idle\n' '' 'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "status after a command" "prior 'period 10 count 3 pattern xyz'" 0 \
        'status: period 10 count 3 pattern xyz\n' '' 'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "status with percent" "param reply 'load 100% %s %d %n'" 0 'load 100%% %%s %%d %%n' '' \
        'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "status of 2000 bytes" "param reply 0123456789; param reply_len 2000" 0 @/tmp/reply2000 '' \
        'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "status longer than 2000 bytes" "param reply 0123456789; param reply_len 2100" 0 @/tmp/reply2000 '' \
        'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "status with NUL inside" "param reply 'abc-def'; param reply_nul 3" 0 'abc' '' \
        'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "status starting with NUL" "param reply 'abc'; param reply_nul 0" 0 '' '' \
        'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "status before a bad count" '' 0 'status: idle\n' '' 'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d -c 0
    tc "bad count before status" '' 1 '' "Error: hornset - invalid count value\\n$USAGE" "$NOTHING" -c 0 -d

    # QTR-PN board: every fault of the command write and the status read.
    tc "write: open fails" "param open_errno 5" 1 'cmd for hornio="period 10"\ndriver open error.\n' \
        "open: $E_IO\n" 'open 1 rdwr; write 0; read 0; ioctl 0' -t 10
    tc "write: node missing" "rm /dev/hornio" 1 'cmd for hornio="period 10"\ndriver open error.\n' \
        'open: No such file or directory\n' "$NOTHING" -t 10
    tc "write fails" "param write_errno 5" 1 'cmd for hornio="period 10"\ndriver write error.\n' \
        "hornset:: $E_IO\n" 'open 1 rdwr; write 1 9 "period 10"; read 0; ioctl 0' -t 10
    tc "write fails, no space" "param write_errno 28" 1 'cmd for hornio="pattern x"\ndriver write error.\n' \
        'hornset:: No space left on device\n' 'open 1 rdwr; write 1 9 "pattern x"; read 0; ioctl 0' -p x
    tc "write transfers nothing" "param write_zero 1" 1 'cmd for hornio="period 10"\ndriver write error.\n' \
        "hornset:: $E_OK\n" 'open 1 rdwr; write 1 9 "period 10"; read 0; ioctl 0' -t 10
    tc "read: open fails" "param open_errno 16" 1 'driver open error.\n' "open: $E_BUSY\n" \
        'open 1 rdwr; write 0; read 0; ioctl 0' -d
    tc "read fails" "param read_errno 5" 1 'driver read error.\n' "hornset:: $E_IO\n" \
        'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "read fails, try again" "param read_errno 11" 1 'driver read error.\n' \
        'hornset:: Resource temporarily unavailable\n' 'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "read returns nothing" "param read_empty 1" 1 'driver read error.\n' "hornset:: $E_OK\n" \
        'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    # A driver reporting more than it was asked for: nothing of the buffer is shown.
    tc "read reports one byte more than asked" "param read_extra 1" 1 'driver read error.\n' \
        "hornset:: $E_OK\n" 'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d
    tc "read reports far more, short reply" "param read_extra 98000" 1 'driver read error.\n' \
        "hornset:: $E_OK\n" 'open 1 rdwr; write 0; read 1 2000; ioctl 0' -d

    # Request-interface board: the positional dialect, set and get requests.
    tc "set request" "$REQ" 0 '' '' "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x000a1403" 10 20 3
    echo "[$kind] the driver's record of the set request: $(cat "$P/seen")"
    tc "set request, all 255" "$REQ" 0 '' '' "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x00ffffff" 255 255 255
    tc "set request, count 0" "$REQ" 0 '' '' "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x00050500" 5 5 0
    tc "set request, count not a number" "$REQ" 0 '' '' \
        "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x00050500" 5 5 abc
    tc "set request, smallest" "$REQ" 0 '' '' "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x000101ff" 1 1 255
    tc "get request" "$REQ" 0 '' '' "open 1 rdwr; write 0; read 0; ioctl 1 $GET_REQ 0x00000000"
    echo "[$kind] the driver's record of the get request: $(cat "$P/seen")"
    tc "get request after a setting" "$REQ; prior_set 0x00010203" 0 '' '' \
        "open 1 rdwr; write 0; read 0; ioctl 1 $GET_REQ 0x00000000"
    tc "zero off time" "$REQ" 1 "${BADPAR}Can't set to zero.\\n" '' "$NOTHING" 0 5 5
    tc "zero tested first" "$REQ" 1 "${BADPAR}Can't set to zero.\\n" '' "$NOTHING" 0 300 1
    tc "negative off time" "$REQ" 1 "${BADPAR}Can't set to negative value.\\n" '' "$NOTHING" -1 5 5
    tc "over 255" "$REQ" 1 "${BADPAR}Can't set to over 255.\\n" '' "$NOTHING" 5 5 256
    tc "beyond int is over 255" "$REQ" 1 "${BADPAR}Can't set to over 255.\\n" '' "$NOTHING" 4294967297 1 1
    tc "two arguments" "$REQ" 1 "$BADPAR" '' "$NOTHING" 5 5
    tc "four arguments" "$REQ" 1 "$BADPAR" '' "$NOTHING" 1 2 3 4
    tc "other single argument" "$REQ" 1 "$BADPAR" '' "$NOTHING" --Help
    tc "version" "$REQ" 0 "hornset version $VERSION\\n" '' "$NOTHING" --version
    tc "help" "$REQ" 0 "$HELP" '' "$NOTHING" --help
    tc "options on a request board" "$REQ" 1 "$BADPAR" '' "$NOTHING" -t 5

    # Request-interface board: every fault of the requests.
    tc "set: open fails" "$REQ; param open_errno 13" 1 'driver open error.\n' 'open: Permission denied\n' \
        'open 1 rdwr; write 0; read 0; ioctl 0' 10 20 3
    tc "get: open fails" "$REQ; param open_errno 19" 1 'driver open error.\n' 'open: No such device\n' \
        'open 1 rdwr; write 0; read 0; ioctl 0'
    tc "set: node missing" "$REQ; rm /dev/hornio" 1 'driver open error.\n' \
        'open: No such file or directory\n' "$NOTHING" 10 20 3
    tc "set fails" "$REQ; param ioctl_errno 5" 1 'driver ioctl error.\n' "hornset:: $E_IO\n" \
        "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x000a1403" 10 20 3
    tc "get fails" "$REQ; param ioctl_errno $ETIMEDOUT" 1 'driver ioctl error.\n' "hornset:: $E_TIMEDOUT\n" \
        "open 1 rdwr; write 0; read 0; ioctl 1 $GET_REQ 0x00000000"
    tc "set returns a positive value" "$REQ; param ioctl_result 1" 1 'driver ioctl error.\n' "hornset:: $E_OK\n" \
        "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x000a1403" 10 20 3
    tc "get returns a positive value" "$REQ; param ioctl_result 7" 1 'driver ioctl error.\n' "hornset:: $E_OK\n" \
        "open 1 rdwr; write 0; read 0; ioctl 1 $GET_REQ 0x00000000"

    # What the proc file's lines select.
    tc "model on second line among other text" "lamp 'x|board model: QTR-PN rev2 (lamp)'" 0 \
        'cmd for hornio="period 5"\n' '' 'open 1 rdwr; write 1 8 "period 5"; read 0; ioctl 0' -t 5
    tc "model on first line only" "lamp 'QTR-PN|model: RX-100'" 0 '' '' \
        "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x00050505" 5 5 5
    tc "single line naming the model" "lamp 'QTR-PN'" 0 'cmd for hornio="period 5"\n' '' \
        'open 1 rdwr; write 1 8 "period 5"; read 0; ioctl 0' -t 5
    tc "model in other case" "lamp 'x|qtr-pn'" 0 '' '' \
        "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x00050505" 5 5 5
    tc "empty proc file" "lamp ''" 0 '' '' "open 1 rdwr; write 0; read 0; ioctl 1 $GET_REQ 0x00000000"
    tc "first line longer than the line buffer" "lamp '$LONGLINE|other'" 0 'cmd for hornio="period 5"\n' '' \
        'open 1 rdwr; write 1 8 "period 5"; read 0; ioctl 0' -t 5

    # A board without /proc/lampstat: the request interface after one message.
    tc "no proc file: set request" "param proc 0" 0 "$NOPROC" '' \
        "open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x000a1403" 10 20 3
    tc "no proc file: get request" "param proc 0" 0 "$NOPROC" '' \
        "open 1 rdwr; write 0; read 0; ioctl 1 $GET_REQ 0x00000000"
    tc "no proc file: version" "param proc 0" 0 "${NOPROC}hornset version $VERSION\\n" '' "$NOTHING" --version
    tc "no proc file: options refused" "param proc 0" 1 "$NOPROC$BADPAR" '' "$NOTHING" -t 5
    tc "no drivers at all" "rmmod hornsim" 1 "${NOPROC}driver open error.\\n" \
        'open: No such file or directory\n' - 10 20 3

    . /kt/callers.sh
done
