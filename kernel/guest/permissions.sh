#!/bin/sh
# hornset run without root, as installed: the group buzzer gets /dev/hornio
# from systemd-udevd with the Debian package's rule (its postinst asking udev
# to apply it), where the guest has /bin/udevadm, and from busybox mdev with
# README's mdev.conf line. Then a member of the group (alice) sets and reads,
# and a user outside it (bob) is refused before anything reaches the driver.
# Sourced by /init, whose counters passed and failed it adds to.
P=/sys/module/hornsim/parameters
REQUEST_BOARD='hornsim lamp driver|model: RX-100 rev1'
QTR_BOARD='hornsim lamp driver|model: QTR-PN rev2'

result() { # NAME PROBLEM (none: passed)
    if [ -z "$2" ]; then
        passed=$((passed + 1))
        echo "ok $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1: $2"
    fi
}

# The node as a (re)load of the driver leaves it: devtmpfs makes it root's, 0600.
reload() {
    rmmod hornsim
    insmod /kt/hornsim.ko || echo "cannot load hornsim"
}

node_is() { # NAME "OWNER:GROUP MODE"
    _got=$(stat -c '%U:%G %a' /dev/hornio 2>&1)
    result "$1" "$([ "$_got" = "$2" ] || echo "/dev/hornio is $_got, expected $2")"
}

# as NAME USER BOARD EXPECTED ARGS: hornset ARGS run by USER with /proc/lampstat
# naming BOARD ends as the printf format EXPECTED says, "STATUS|STDOUT|STDERR"
# (final newlines left out). A refused run must reach nothing of the driver.
as() {
    echo "$3" >$P/lampstat
    echo record >$P/reset
    _out=$(su -s /bin/sh -c "hornset $5" "$2" 2>/tmp/perm.err)
    _got="$?|$_out|$(cat /tmp/perm.err)"
    case $_got in 0*) ;; *) _got="$_got|$(cat $P/seen)" ;; esac
    # shellcheck disable=SC2059 # the expected text is a format
    _want=$(printf "$4")
    result "$1" "$([ "$_got" = "$_want" ] || echo "got '$_got', expected '$_want'")"
}

member_and_other() { # DAEMON
    nothing='open 0; write 0; read 0; ioctl 0'
    as "$1: member sets" alice "$REQUEST_BOARD" '0||' '10 20 3'
    as "$1: member reads" alice "$QTR_BOARD" '0|status: off 10 on 20 count 3|' -d
    as "$1: other user refused a command" bob "$QTR_BOARD" \
        "1|cmd for hornio=\"period 10\"\ndriver open error.|open: Permission denied|$nothing" '-t 10'
    as "$1: other user refused a read" bob "$QTR_BOARD" \
        "1|driver open error.|open: Permission denied|$nothing" -d
}

# One build serves, the permission being the kernel's to check: the dynamic
# glibc build, as the Debian package has it, where the guest has one.
perm_build=${HORNSETS%%:*}
case " $HORNSETS " in *" dynamic:"*) perm_build=dynamic ;; esac
PATH=/opt/$perm_build/bin:/bin
echo "permission cases with the $perm_build build"

if [ -x /bin/udevadm ]; then
    reload
    node_is "udev: node before udevd starts" "root:root 600"
    mkdir -p /run
    /lib/systemd/systemd-udevd --daemon
    sh /kt/postinst configure && udevadm settle
    node_is "udev: postinst applies the rule to the loaded driver's node" "root:buzzer 660"
    member_and_other udev
    reload
    udevadm settle
    node_is "udev: rule applied to the node of a driver loaded later" "root:buzzer 660"
    udevadm control --exit
fi

reload
node_is "mdev: node before mdev runs" "root:root 600"
echo 'hornio root:buzzer 660' >/etc/mdev.conf
mdev -s
node_is "mdev: mdev -s applies the mdev.conf line" "root:buzzer 660"
member_and_other mdev
# mdev as a daemon on the kernel's events (this kernel has no hotplug helper
# to call it) changes the node devtmpfs made a moment after the driver loads.
mdev -d -f &
sleep 1
reload
for _i in 1 2 3 4 5 6 7 8 9 10; do
    [ "$(stat -c %G /dev/hornio)" = buzzer ] && break
    sleep 1
done
node_is "mdev: daemon applies the line to the node of a driver loaded later" "root:buzzer 660"
kill $!
PATH=/bin
