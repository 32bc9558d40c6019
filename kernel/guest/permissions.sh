#!/bin/sh
# hornset run without root, as installed: the group buzzer gets /dev/hornio
# from systemd-udevd with the rule the Debian package installs (the package's
# postinst asking it to apply the rule) and from busybox mdev with README's
# mdev.conf line. Then a member of the group (alice) sets and reads on a
# request board and a QTR-PN board, and a user outside it (bob) is refused
# before anything reaches the driver. Sourced by /init; counts into its
# passed and failed. Needs /etc/passwd and /etc/group with alice, bob and
# buzzer; the udev cases also /bin/udevadm, the rule in /lib/udev/rules.d and
# /kt/postinst, where the guest has them.
PARAMS=/sys/module/hornsim/parameters
REQUEST_BOARD='hornsim lamp driver|model: RX-100 rev1'
QTR_BOARD='hornsim lamp driver|model: QTR-PN rev2'
REFUSED='open: Permission denied\n'

perm_result() { # NAME PROBLEM (empty: passed)
    if [ -z "$2" ]; then
        passed=$((passed + 1))
        echo "ok $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1: $2"
    fi
}

# The node as the module's (re)load leaves it: devtmpfs makes it root's, 0600.
fresh_node() {
    rmmod hornsim 2>/dev/null
    insmod /kt/hornsim.ko || echo "cannot load hornsim"
}

node_is() { # NAME OWNER:GROUP MODE
    _got=$(stat -c '%U:%G %a' /dev/hornio 2>&1)
    [ "$_got" = "$2 $3" ] && perm_result "$1" '' || perm_result "$1" "/dev/hornio is $_got, expected $2 $3"
}

# as NAME USER BOARD STATUS STDOUT STDERR ARGS: hornset ARGS run as USER with
# /proc/lampstat naming BOARD; its exit status and output (printf formats)
# compared. For a refused run, the driver must have seen nothing.
as() {
    _name=$1 _user=$2 _status=$4 _out=$5 _err=$6
    echo "$3" >"$PARAMS/lampstat"
    echo record >"$PARAMS/reset"
    shift 6
    su -s /bin/sh -c "hornset $*" "$_user" >/tmp/perm.out 2>/tmp/perm.err
    _got=$?
    _bad=
    [ "$_got" = "$_status" ] || _bad="$_bad status $_got, expected $_status;"
    # shellcheck disable=SC2059 # the expected texts are printf formats
    printf "$_out" | cmp -s - /tmp/perm.out || _bad="$_bad stdout '$(cat /tmp/perm.out)';"
    # shellcheck disable=SC2059
    printf "$_err" | cmp -s - /tmp/perm.err || _bad="$_bad stderr '$(cat /tmp/perm.err)';"
    if [ "$_status" != 0 ] && [ "$(cat "$PARAMS/seen")" != 'open 0; write 0; read 0; ioctl 0' ]; then
        _bad="$_bad the driver saw: $(cat "$PARAMS/seen");"
    fi
    _bad=${_bad# }
    perm_result "$_name" "${_bad%;}"
}

# The runs of a member and of a user outside the group, both dialects. The
# member's status reads show that its set request and its command reached
# the driver.
member_and_other() { # DAEMON
    as "$1: member sets a request board (10 20 3)" alice "$REQUEST_BOARD" 0 '' '' 10 20 3
    as "$1: member reads the request setting (-d)" alice "$QTR_BOARD" 0 'status: off 10 on 20 count 3\n' '' -d
    as "$1: member writes on a QTR-PN board (-t 10)" alice "$QTR_BOARD" 0 'cmd for hornio="period 10"\n' '' -t 10
    as "$1: member reads the command (-d)" alice "$QTR_BOARD" 0 'status: period 10\n' '' -d
    as "$1: other user refused on a request board (10 20 3)" bob "$REQUEST_BOARD" 1 'driver open error.\n' \
        "$REFUSED" 10 20 3
    as "$1: other user refused on a QTR-PN board (-t 10)" bob "$QTR_BOARD" 1 \
        'cmd for hornio="period 10"\ndriver open error.\n' "$REFUSED" -t 10
    as "$1: other user refused a status read (-d)" bob "$QTR_BOARD" 1 'driver open error.\n' "$REFUSED" -d
}

# One build serves: the permission is the kernel's to check. The dynamic
# glibc build, as the Debian package has it, where the guest has one.
perm_build=${HORNSETS%%:*}
case " $HORNSETS " in *" dynamic:"*) perm_build=dynamic ;; esac
PATH=/opt/$perm_build/bin:/bin
echo "permission cases with the $perm_build build"

if [ -x /bin/udevadm ]; then
    fresh_node
    node_is "udev: node before udevd starts" root:root 600
    mkdir -p /run
    /lib/systemd/systemd-udevd --daemon 2>/tmp/udevd.err || cat /tmp/udevd.err
    sh /kt/postinst configure && udevadm settle
    node_is "udev: postinst applies the rule to the loaded driver's node" root:buzzer 660
    member_and_other udev
    fresh_node
    udevadm settle
    node_is "udev: rule applied to the node of a driver loaded later" root:buzzer 660
    udevadm control --exit
else
    echo "no udevd in this guest: udev cases not run"
fi

fresh_node
node_is "mdev: node before mdev runs" root:root 600
echo 'hornio root:buzzer 660' >/etc/mdev.conf
mdev -s
node_is "mdev: mdev -s applies the mdev.conf line" root:buzzer 660
member_and_other mdev
# mdev as a daemon on the kernel's events (this kernel has no hotplug helper
# to call it): it changes the node devtmpfs made when the driver loads, a
# moment later.
mdev -d -f &
sleep 1
fresh_node
for _i in 1 2 3 4 5 6 7 8 9 10; do
    [ "$(stat -c %G /dev/hornio)" = buzzer ] && break
    sleep 1
done
node_is "mdev: daemon applies the line to the node of a driver loaded later" root:buzzer 660
kill $!
PATH=/bin
