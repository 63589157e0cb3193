#!/bin/sh
# First process of the test guest. ttyS0 is the controller's line (the host
# plays the controller); the kernel command line names the host's command
# channel in quorin_shell (ttyS2 on a pc, ttyS1 on an arm board): each line
# the host sends there runs as a shell command, and its output is followed
# by "--- STATUS". The guest powers off when the host closes the channel.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /lib/modules/load); do
    insmod "/lib/modules/$module"
done
# The daemon's system log lands in /tmp/syslog.
syslogd -O /tmp/syslog

shell=/dev/${quorin_shell:-ttyS2}
stty -F "$shell" 115200 raw -echo
exec <"$shell" >"$shell" 2>&1
echo "guest ready"
while IFS= read -r command; do
    eval "$command"
    echo "--- $?"
done
poweroff -f
