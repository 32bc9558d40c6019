#!/bin/sh
# Checks of the stand-in module that no hornset run can make: the commands it
# refuses, its size limits, bad user addresses and the request numbers, through
# hornprobe's raw calls. Sourced by /init, whose counters passed and failed it
# adds to.
P=/sys/module/hornsim/parameters

# pc NAME SETUP EXPECTED ARGS...: on a reset module after the shell code SETUP,
# hornprobe ARGS prints what the printf format EXPECTED gives, followed by the
# module's record of what reached it in that call.
pc() {
    _name=$1 _setup=$2
    # shellcheck disable=SC2059 # the expected output is a format
    printf "$3" >/tmp/exp.out
    shift 3
    echo all >$P/reset
    eval "$_setup"
    echo record >$P/reset
    { hornprobe "$@" && cat $P/seen; } >/tmp/got.out 2>&1
    if cmp -s /tmp/exp.out /tmp/got.out; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL [$kind] $_name"
        diff -u /tmp/exp.out /tmp/got.out | head -n 20
    fi
}
# The module's record of one call: "seen WRITE READ IOCTL".
seen() { echo "open 1 rdwr; write $1; read $2; ioctl $3"; }

kind=module
text='period -2147483648 count 2147483647 pattern a  b '
pc "command of every item" '' "${#text}\n$(seen "1 ${#text} \"$text\"" 0 0)\n" write "$text"
for text in '' 'period ' 'period 10 ' 'period  10' 'period 1x' 'period +5' 'count 3 period 10' \
    'period 1 period 2' 'pattern ' 'period 2147483648' 'tempo 10' 'period 10
'; do
    pc "refused: '$text'" '' "-22\n$(seen "1 ${#text} \"$text\"" 0 0)\n" write "$text"
done
long="pattern $(printf '%2040s' '' | tr ' ' p)"
pc "longest command" '' "2048\n$(seen "1 2048 \"$long\"" 0 0)\n" write "$long"
pc "command over the limit" '' "-22\n$(seen "1 2049 \"$long\"" 0 0)\n" write "${long}p"
pc "status reply cut at 2000 bytes" "hornprobe write '$long' >/dev/null" \
    "2000:$(echo "status: $long" | head -c 2000)\n$(seen 0 '1 4096' 0)\n" read 4096
pc "write from a bad address" '' "-14\n$(seen '1 10 fault' 0 0)\n" write bad
pc "read into a bad address" '' "-14\n$(seen 0 '1 10' 0)\n" read bad

# The requests, from a program of the kernel's own width and, where the guest
# has one, from a 32-bit program through the kernel's compat path. A request
# of the other direction is another number: the driver does not know it.
other_dir=$(printf '0x%08x' $(((GET_REQ & 0xffff0000) | (SET_REQ & 0xffff))))
for probe_dir in /bin /opt/probe32/bin; do
    [ -x $probe_dir/hornprobe ] || continue
    PATH=$probe_dir:/bin
    [ "$probe_dir" = /bin ] || kind=module-32bit
    pc "set request" '' "0 0x000a1403\n$(seen 0 0 "1 $SET_REQ 0x000a1403")\n" \
        ioctl "$SET_REQ" 0x000a1403
    pc "get request returns the set word" "hornprobe ioctl $SET_REQ 0x00ffffff >/dev/null" \
        "0 0x00ffffff\n$(seen 0 0 "1 $GET_REQ 0x00000000")\n" ioctl "$GET_REQ" 0
    pc "request of the other direction" '' "-25 0x000a1403\n$(seen 0 0 "1 $other_dir")\n" \
        ioctl "$other_dir" 0x000a1403
    pc "set request, bad address" '' "-14 0x00000000\n$(seen 0 0 "1 $SET_REQ fault")\n" \
        ioctl "$SET_REQ" bad
    pc "get request, bad address" '' "-14 0x00000000\n$(seen 0 0 "1 $GET_REQ fault")\n" \
        ioctl "$GET_REQ" bad
done
PATH=/bin
