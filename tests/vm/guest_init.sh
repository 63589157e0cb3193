#!/bin/sh
# First process of the test guest. ttyS0 is the controller's line (the host
# plays the controller), ttyS1 the kernel console, ttyS2 the host's command
# channel: each line the host sends there runs as a shell command, and its
# output is followed by "--- STATUS". The guest powers off when the host
# closes the channel.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
insmod /lib/evdev.ko
insmod /lib/uinput.ko
# The daemon's system log lands in /tmp/syslog.
syslogd -O /tmp/syslog

stty -F /dev/ttyS2 115200 raw -echo
exec </dev/ttyS2 >/dev/ttyS2 2>&1
echo "guest ready"
while IFS= read -r command; do
    eval "$command"
    echo "--- $?"
done
poweroff -f
