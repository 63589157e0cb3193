"""The arm64 package as a Raspberry Pi runs it: a Debian system booted with
systemd and udev on qemu's Raspberry Pi 3 B (QUORIN_SUITE's kernel and
root, the board's tree with the shipped overlay merged), the package
installed with apt, its unit pointed at the PL011 by the shipped drop-in,
touches read through udev and libinput, a brightness request, the stop.
The host plays the controller on the PL011; the shell channel is on the
mini UART.
"""
import os
import re
import sys
import time

import pytest

sys.path[:0] = [os.path.dirname(os.path.abspath(__file__)),
                os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")]
import quorin_sim as sim  # noqa: E402
from debian_guest import DebianGuest  # noqa: E402
from guest import SUMMARY  # noqa: E402
from test_debian_service import EXAMPLES, DROP_IN, UNIT, stops_logged, touch_events, \
    wait_unit  # noqa: E402


@pytest.fixture(scope="module")
def pi():
    started = time.monotonic()
    machine = DebianGuest({"quorindaemon.deb": os.environ["QUORIN_DEB"]},
                          suite=os.environ.get("QUORIN_SUITE"), board="raspi3b")
    boot = machine.boot_seconds
    yield machine
    machine.close()
    SUMMARY.append("Debian %s on qemu's Raspberry Pi 3 B, kernel %s (TCG): booted in %.1f s, "
                   "whole session %.1f s" % (machine.suite, machine.abi, boot,
                                             time.monotonic() - started))


def test_the_drop_in_puts_the_packaged_service_on_the_pl011(pi):
    pi.check("apt-get install -y -q /root/quorindaemon.deb > /tmp/apt.log 2>&1")
    pi.check("install -D -m 644 %spl011.conf %sline.conf && systemctl daemon-reload"
             % (EXAMPLES, DROP_IN))
    # It replaces the packaged binding to ttyS0, a placeholder here, which
    # systemd never counts as plugged.
    assert pi.unit("BindsTo")["BindsTo"] == "dev-ttyAMA0.device"
    pi.check("systemctl start " + UNIT, timeout=60)
    assert pi.receive(5) == sim.STARTUP_COMMAND
    wait_unit(pi, "the start", ActiveState="active", SubState="running")
    assert "--device /dev/ttyAMA0" in pi.unit("ExecStart")["ExecStart"]
    assert "Daemon started" in pi.journal("-u", UNIT)
    settings = pi.check("stty -F /dev/ttyAMA0 -a")
    assert "speed 9600 baud" in settings
    assert {"parenb", "-parodd", "cs8", "inpck"} <= set(settings.split())


def test_libinput_reads_taps_and_a_drag_from_the_pl011(pi):
    node = pi.wait_shell("grep -l uinput-touch /sys/class/input/event*/device/name",
                         what="uinput-touch").split("/")[4]
    assert "ID_INPUT_TOUCHSCREEN=1" in pi.check("udevadm info /dev/input/" + node)
    samples = sim.tap(0, 0) + sim.tap(4095, 4095) + sim.drag(0, 2048, 4095, 2048, steps=5)
    events = touch_events(pi, samples)
    assert [event for event, _, _ in events] == ["TOUCH_DOWN", "TOUCH_UP"] * 2 + \
        ["TOUCH_DOWN"] + ["TOUCH_MOTION"] * 4 + ["TOUCH_UP"]
    assert [(x, y) for event, x, y in events if event == "TOUCH_DOWN"] == \
        [(0.0, 0.0), (99.98, 99.98), (0.0, 50.0)]


def test_a_brightness_request_reaches_the_pl011(pi):
    pi.write("/tmp/backlight", "50\n")
    assert pi.receive(5) == b"\x1b@0Fi"


def test_the_stop_is_the_orderly_stop(pi):
    stops = stops_logged(pi)
    pi.check("systemctl stop " + UNIT)
    assert pi.unit("ActiveState", "Result") == {"ActiveState": "inactive", "Result": "success"}
    assert stops_logged(pi) == stops + 1
    assert not re.search("uinput-touch", pi.read("/proc/bus/input/devices"))
