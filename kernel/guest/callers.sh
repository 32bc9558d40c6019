#!/bin/sh
# Cases of hornset run as boot scripts and other programs run it: standard
# streams closed, with the driver failing or not, and something other than the
# driver's device at /dev/hornio. Sourced by cases.sh inside its loop over the
# builds, after lib.sh and libc_texts. Its cases use sc (lib.sh).

# A device node of the driver's numbers at another name, for a symbolic link to point at.
alt_node() { busybox mknod /dev/hornio.alt c "$(cut -d: -f1 /sys/class/misc/hornio/dev)" "$(cut -d: -f2 /sys/class/misc/hornio/dev)"; }
# Undoes a SETUP that replaced /dev/hornio: the next case reloads the module, which makes it anew.
unplace() { rm -f /dev/hornio /dev/hornio.alt; }

TRACE='cmd for hornio="period 10"\n'
WROTE='open 1 rdwr; write 1 9 "period 10"; read 0; ioctl 0'
SET_SEEN="open 1 rdwr; write 0; read 0; ioctl 1 $SET_REQ 0x000a1403"
GET_SEEN="open 1 rdwr; write 0; read 0; ioctl 1 $GET_REQ 0x00000000"
READ_SEEN='open 1 rdwr; write 0; read 1 2000; ioctl 0'
NODEV='open: No such device\n'

# Closed standard streams: the node never takes their numbers, so nothing the
# tool prints reaches the driver (one write at most, requests without writes).
sc "closed stdout: write" '' 1 1 '' 'hornset: write error: Bad file descriptor\n' "$WROTE" : -t 10
sc "closed stdout: write fails" "param write_errno 5" 1 1 '' "hornset:: $E_IO\\n" "$WROTE" : -t 10
sc "closed stdout: status read" '' 1 1 '' 'hornset: write error: Bad file descriptor\n' "$READ_SEEN" : -d
sc "closed stdout: set" "$REQ" 1 0 '' '' "$SET_SEEN" : 10 20 3
sc "closed stdout: set fails" "$REQ; param ioctl_errno 25" 1 1 '' "hornset:: $E_NOTTY\\n" \
    "$SET_SEEN" : 10 20 3
sc "closed stderr: set fails" "$REQ; param ioctl_errno 25" 2 1 'driver ioctl error.\n' '' "$SET_SEEN" : 10 20 3
sc "closed stderr: get fails" "$REQ; param ioctl_errno 5" 2 1 'driver ioctl error.\n' '' "$GET_SEEN" :
sc "closed stderr: write fails" "param write_errno 5" 2 1 "${TRACE}driver write error.\\n" '' "$WROTE" : -t 10
sc "closed stderr: read fails" "param read_errno 5" 2 1 'driver read error.\n' '' "$READ_SEEN" : -d
sc "closed stderr: open fails" "param open_errno 13" 2 1 "${TRACE}driver open error.\\n" '' \
    'open 1 rdwr; write 0; read 0; ioctl 0' : -t 10
sc "closed stdout and stderr: write fails" "param write_errno 5" 12 1 '' '' "$WROTE" : -t 10
sc "closed stdout and stderr: set fails" "$REQ; param ioctl_errno 5" 12 1 '' '' "$SET_SEEN" : 10 20 3
sc "closed stdout and stderr: write" '' 12 1 '' '' "$WROTE" : -t 10
sc "all closed: get" "$REQ" 012 0 '' '' "$GET_SEEN" :
sc "closed stdin: set" "$REQ" 0 0 '' '' "$SET_SEEN" : 10 20 3

# Standard output a pipe whose reader has gone, with output still held when the
# failure is met: the report reaches standard error and the status is 1 (no SIGPIPE).
sc "gone reader: write fails" "param write_errno 5" pipe 1 '' "hornset:: $E_IO\\n" "$WROTE" : -t 10
sc "gone reader: open refused" "param open_errno 13" pipe 1 '' 'open: Permission denied\n' \
    'open 1 rdwr; write 0; read 0; ioctl 0' : -t 10
sc "gone reader: set fails" "param proc 0; param ioctl_errno 5" pipe 1 '' "hornset:: $E_IO\\n" \
    "$SET_SEEN" : 10 20 3

# Not the driver's device at /dev/hornio: a failed open, the file untouched.
sc "regular file as the node: write" "rm /dev/hornio; printf 'period 5' >/dev/hornio" - 1 \
    "${TRACE}driver open error.\\n" "$NODEV" "$NOTHING" '[ "$(cat /dev/hornio)" = "period 5" ]; _r=$?; unplace; [ $_r = 0 ]' -t 10
sc "regular file as the node: set" "$REQ; rm /dev/hornio; : >/dev/hornio" - 1 'driver open error.\n' "$NODEV" \
    "$NOTHING" '[ ! -s /dev/hornio ]; _r=$?; unplace; [ $_r = 0 ]' 10 20 3
sc "FIFO as the node: status read" "rm /dev/hornio; busybox mkfifo /dev/hornio" - 1 'driver open error.\n' \
    "$NODEV" "$NOTHING" unplace -d
sc "symbolic link to the device" "$REQ; alt_node; rm /dev/hornio; busybox ln -s hornio.alt /dev/hornio" - 0 '' '' \
    "$SET_SEEN" unplace 10 20 3
