#!/bin/sh
# The host's command channel in the Debian guest, as in guest_init.sh: each
# line that comes in on ttyS2 (or the kernel command line's quorin_shell)
# runs as a shell command, its output followed by "--- STATUS". The ready
# line carries the state the boot ended in.
shell=/dev/$(sed -n 's/.*quorin_shell=\([^ ]*\).*/\1/p' /proc/cmdline)
[ "$shell" != /dev/ ] || shell=/dev/ttyS2
stty -F "$shell" 115200 raw -echo
exec <"$shell" >"$shell" 2>&1
echo "guest ready $(systemctl is-system-running --wait)"
while IFS= read -r command; do
    eval "$command"
    echo "--- $?"
done
