#!/bin/sh
# Checks of the stand-in module itself, through hornprobe's raw system calls;
# sourced by /init, whose counters passed and failed they add to.
P=/sys/module/hornsim/parameters
param() { hornprobe put "$P/$1" "$2" || echo "setup: cannot set $1"; }
prior() { hornprobe write "$1" >/dev/null; }
prior_set() { hornprobe ioctl "$SET_REQ" "$1" >/dev/null; }

# pc NAME SETUP EXPECTED ARGS...: hornprobe ARGS prints EXPECTED (a printf
# format) after SETUP (shell code using the helpers above) on a reset module.
pc() {
    _name=$1 _setup=$2
    # shellcheck disable=SC2059 # the expected output is a format
    printf "$3" >/tmp/exp.out
    shift 3
    param reset all
    eval "$_setup"
    hornprobe "$@" >/tmp/got.out 2>&1
    if cmp -s /tmp/exp.out /tmp/got.out; then
        passed=$((passed + 1))
        return
    fi
    failed=$((failed + 1))
    echo "FAIL [$kind] $_name"
    diff -au /tmp/exp.out /tmp/got.out | tr '\000' @ | sed -e 's/^/  out| /' | head -n 20
}

kind=module
pc "grammar: period" '' '9\n' write 'period 10'
pc "grammar: count" '' '7\n' write 'count 3'
pc "grammar: pattern" '' '11\n' write 'pattern xyz'
pc "grammar: all three" '' '29\n' write 'period 10 count 3 pattern xyz'
pc "grammar: negative, spaces in pattern" '' '21\n' write 'period -4 pattern a b'
pc "grammar: int limits" '' '35\n' write 'period -2147483648 count 2147483647'
pc "grammar: pattern takes the rest" '' '20\n' write 'pattern period 5  x '
pc "refuse: empty" '' '-22\n' write ''
pc "refuse: no number" '' '-22\n' write 'period '
pc "refuse: trailing space" '' '-22\n' write 'period 10 '
pc "refuse: double space" '' '-22\n' write 'period  10'
pc "refuse: trailing newline" '' '-22\n' write 'period 10
'
pc "refuse: junk after number" '' '-22\n' write 'period 1x'
pc "refuse: plus sign" '' '-22\n' write 'period +5'
pc "refuse: order" '' '-22\n' write 'count 3 period 10'
pc "refuse: repeated item" '' '-22\n' write 'period 1 period 2'
pc "refuse: empty pattern" '' '-22\n' write 'pattern '
pc "refuse: beyond int" '' '-22\n' write 'period 2147483648'
pc "refuse: unknown item" '' '-22\n' write 'tempo 10'
pc "status: idle" '' '13:status: idle\n' read 2000
pc "status: text setting" "prior 'period -4 pattern a b'" \
    '30:status: period -4 pattern a b\n' read 2000
pc "status: refused write keeps setting" "prior 'count 3 pattern x'; prior 'period 1x'" \
    '26:status: count 3 pattern x\n' read 2000
pc "status: request setting" "prior_set 0x000a1403" '29:status: off 10 on 20 count 3\n' read 2000
pc "status: short read" "prior 'pattern xyz'" '5:statu' read 5
# The requests, from a program of the kernel's own width and, where the guest has
# one, from a 32-bit program through the kernel's compat path.
for probe_dir in /bin $PROBE32_DIR; do
    PATH=$probe_dir:/bin
    if [ "$probe_dir" != /bin ]; then kind=module-32bit; fi
    pc "set request" '' '0 0x000a1403\n' ioctl "$SET_REQ" 0x000a1403
    pc "get request returns last set word" "prior_set 0x00ffffff" '0 0x00ffffff\n' ioctl "$GET_REQ" 0
    pc "get request without setting" '' '0 0x00000000\n' ioctl "$GET_REQ" 7
    pc "request of other direction" '' '-25 0x000a1403\n' ioctl "$SET_OTHER_DIR" 0x000a1403
    pc "request of other number" '' '-25 0x00000000\n' ioctl "$GET_OTHER_DIR" 0
    pc "request without argument" '' '-25 0x00000000\n' ioctl 6b01 0
    pc "set request, bad address" '' '-14 0x00000000\n' ioctl "$SET_REQ" bad
    pc "get request, bad address" '' '-14 0x00000000\n' ioctl "$GET_REQ" bad
    pc "request fault" "param ioctl_errno $ETIMEDOUT" "-$ETIMEDOUT 0x00000005\\n" ioctl "$SET_REQ" 5
    pc "request positive result" "param ioctl_result 3" '3 0x00000005\n' ioctl "$SET_REQ" 5
done
PATH=/bin
kind=module
pc "open fault" "param open_errno 16" 'open -16\n' read 10
pc "write fault" "param write_errno 28" '-28\n' write 'period 10'
pc "zero-byte write" "param write_zero 1" '0\n' write 'period 10'
pc "read fault" "param read_errno 5" '-5:' read 10
pc "empty read" "param read_empty 1" '0:' read 10
pc "read reporting more than asked" "param read_extra 1" '11:status: id' read 10
