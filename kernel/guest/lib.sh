#!/bin/sh
# Case runners for the kernel-side test; sourced by /init.
# shellcheck disable=SC2034 # the texts it sets are for the case files
#
# tc NAME SETUP STATUS STDOUT STDERR SEEN [ARGS...]
#   Runs "hornset ARGS..." (the build first in PATH) on a freshly reset module,
#   after evaluating SETUP (shell code using the helpers below). STDOUT and
#   STDERR are printf formats, or @FILE for a file with the exact bytes. SEEN is
#   the exact record of what reached the driver (the module's "seen"
#   parameter), or "-" when the module is not loaded. In the differences shown
#   for a failing case, NUL bytes appear as "@".
# pc NAME SETUP STDOUT hornprobe-ARGS...
#   Runs hornprobe against the module and compares its output (module checks).

P=/sys/module/hornsim/parameters
passed=0
failed=0
NOTHING='open 0; write 0; read 0; ioctl 0'

param() { hornprobe put "$P/$1" "$2" || echo "setup: cannot set $1"; }
# An empty text cannot be written in one non-empty write: a lone newline empties it.
lamp() { if [ -n "$1" ]; then param lampstat "$1"; else echo >"$P/lampstat"; fi; }
prior() { hornprobe write "$1" >/dev/null; }
prior_set() { hornprobe ioctl "$SET_REQ" "$1" >/dev/null; }
# rep TEXT N: TEXT repeated N times.
rep() {
    _r=
    _i=0
    while [ "$_i" -lt "$2" ]; do
        _r=$_r$1
        _i=$((_i + 1))
    done
    printf '%s' "$_r"
}

# libc_texts glibc|musl: the texts hornset passes through from its C library
# (system error messages, getopt's diagnostic) where the two differ. The
# other messages the cases expect are the same in both.
libc_texts() {
    case $1 in
    glibc)
        E_OK='Success'
        E_IO='Input/output error'
        E_NOTTY='Inappropriate ioctl for device'
        E_BUSY='Device or resource busy'
        E_TIMEDOUT='Connection timed out'
        BADOPT_X="hornset: invalid option -- 'x'"
        ;;
    musl)
        E_OK='No error information'
        E_IO='I/O error'
        E_NOTTY='Not a tty'
        E_BUSY='Resource busy'
        E_TIMEDOUT='Operation timed out'
        BADOPT_X='hornset: unrecognized option: x'
        ;;
    *) echo "setup: unknown C library $1" ;;
    esac
}

restore_module() {
    if [ -d /sys/module/hornsim ] && [ ! -e /dev/hornio ]; then
        rmmod hornsim
    fi
    [ -d /sys/module/hornsim ] || insmod /kt/hornsim.ko || echo "cannot reload hornsim"
    param reset all
}

expect_file() { # EXPECTED FILE  (a printf format, or @PATH of a file to copy)
    case $1 in
    @*) cp "${1#@}" "$2" ;;
    *) printf "$1" >"$2" ;;
    esac
}

report_fail() { # NAME WHAT
    failed=$((failed + 1))
    echo "FAIL ${kind:+[$kind] }$1: $2"
}

# tc NAME SETUP STATUS STDOUT STDERR SEEN [ARGS...]
#   Runs hornset ARGS after SETUP and compares its exit status, standard output
#   and standard error, and the module's record of what reached it (SEEN; "-"
#   for none to compare).
tc() {
    _name=$1 _setup=$2 _status=$3 _out=$4 _err=$5 _seen=$6
    shift 6
    sc "$_name" "$_setup" - "$_status" "$_out" "$_err" "$_seen" : "$@"
}

# sc NAME SETUP CLOSED STATUS STDOUT STDERR SEEN AFTER [ARGS...]
#   As tc, but hornset starts with the standard descriptors in CLOSED (some of
#   0, 1 and 2, or "-" for none) closed, or with CLOSED "pipe" standard output a
#   pipe whose reader has gone; a closed stream's expected text must be empty. AFTER is shell code run after hornset (a further check, or undoing
#   SETUP); the case fails when it fails.
sc() {
    _name=$1 _setup=$2 _closed=$3 _status=$4 _out=$5 _err=$6 _seen=$7 _after=$8
    shift 8
    rm -f /tmp/exp.seen /tmp/got.seen
    : >/tmp/got.out
    : >/tmp/got.err
    restore_module
    eval "$_setup"
    [ -d /sys/module/hornsim ] && param reset record
    case $_closed in
    -) hornset "$@" >/tmp/got.out 2>/tmp/got.err ;;
    0) hornset "$@" <&- >/tmp/got.out 2>/tmp/got.err ;;
    1) hornset "$@" >&- 2>/tmp/got.err ;;
    2) hornset "$@" >/tmp/got.out 2>&- ;;
    12) hornset "$@" >&- 2>&- ;;
    012) hornset "$@" <&- >&- 2>&- ;;
    pipe) hornprobe closedpipe hornset "$@" 2>/tmp/got.err ;;
    *) echo "sc: no such set of closed streams: $_closed" ;;
    esac
    _got=$?
    _bad=
    eval "$_after" || _bad=" check after the run failed;"
    expect_file "$_out" /tmp/exp.out
    expect_file "$_err" /tmp/exp.err
    [ "$_got" = "$_status" ] || _bad="$_bad status $_got, expected $_status;"
    cmp -s /tmp/exp.out /tmp/got.out || _bad="$_bad stdout differs;"
    cmp -s /tmp/exp.err /tmp/got.err || _bad="$_bad stderr differs;"
    if [ "$_seen" != - ]; then
        cat "$P/seen" >/tmp/got.seen 2>/dev/null
        printf '%s\n' "$_seen" >/tmp/exp.seen
        cmp -s /tmp/exp.seen /tmp/got.seen || _bad="$_bad driver record differs;"
    fi
    if [ -z "$_bad" ]; then
        passed=$((passed + 1))
        return
    fi
    _bad=${_bad# }
    report_fail "$_name" "${_bad%;}"
    for _f in out err seen; do
        [ -f /tmp/exp.$_f ] && [ -f /tmp/got.$_f ] || continue
        cmp -s /tmp/exp.$_f /tmp/got.$_f || diff -au /tmp/exp.$_f /tmp/got.$_f | tr "\\000" @ | sed -e "s/^/  $_f| /" | cut -c1-300 | head -n 20
    done
}

pc() {
    _name=$1 _setup=$2 _out=$3
    shift 3
    restore_module
    eval "$_setup"
    hornprobe "$@" >/tmp/got.out 2>&1
    expect_file "$_out" /tmp/exp.out
    if cmp -s /tmp/exp.out /tmp/got.out; then
        passed=$((passed + 1))
        return
    fi
    report_fail "$_name" "probe output differs"
    diff -au /tmp/exp.out /tmp/got.out | tr "\\000" @ | sed -e 's/^/  out| /' | cut -c1-300 | head -n 20
}
