#!/bin/sh
# The host's command channel in the Debian guest, as in guest_init.sh: each
# line that comes in on ttyS2 runs as a shell command, its output followed
# by "--- STATUS". The ready line carries the state the boot ended in.
stty -F /dev/ttyS2 115200 raw -echo
exec </dev/ttyS2 >/dev/ttyS2 2>&1
echo "guest ready $(systemctl is-system-running --wait)"
while IFS= read -r command; do
    eval "$command"
    echo "--- $?"
done
