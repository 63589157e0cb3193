"""What a new user finds on a Raspberry Pi 3 B (qemu's raspi3b) with
Debian's own kernel and device tree for it: the default line is a
placeholder, the PL011 is Bluetooth's, and GPIO 14/15 belong to the mini
UART, which cannot do parity. The daemon refuses each at once, in both
modes, saying what to do; and the shipped overlay that frees the PL011 for
GPIO 14/15 applies to the tree of every Pi that gives it to Bluetooth.
The suite on the freed PL011 is test_real_kernel.py on the same board.
"""
import os
import select
import subprocess
import sys
import tempfile

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "system")]
import guest_kernel  # noqa: E402
from guest import GPIO, MINI_UART, PL011, Guest, with_overlay  # noqa: E402
from sandbox import stable_text  # noqa: E402

BUILD_DIR = os.path.abspath(os.environ.get("QUORIN_BUILD_DIR", "build-vm"))
SUITE = os.environ.get("QUORIN_SUITE")
MODES = pytest.mark.parametrize("foreground", [False, True], ids=["detached", "service"])
PI_ADVICE = "(see RASPBERRY PI in man quorinDaemon)"


def boot(board, tree):
    pi = Guest(BUILD_DIR, "arm64", SUITE, board, tree)
    yield pi
    pi.close()


def refused(pi, foreground, device=None):
    """Starts the daemon on `device` (its default line if None) and checks
    that it failed at once; returns its standard error's lines, which the
    system log must have too."""
    logged = len(pi.syslog())
    command = "quorinDaemon%s%s" % (" --foreground" if foreground else "",
                                    " --device " + device if device else "")
    status, _ = pi.shell(command + " 2> /tmp/refusal")
    lines = stable_text(pi.read("/tmp/refusal")).splitlines()
    assert status == 1, lines
    assert not pi.daemon_running()
    assert "uinput-touch" not in pi.read("/proc/bus/input/devices")
    log = stable_text(pi.syslog()[logged:])
    assert all("user.err quorinDaemon: " + line in log for line in lines), log
    return lines


class TestTheBoardAsShipped:
    """Debian's tree: Bluetooth holds the PL011; the shell channel is on
    the mini UART."""

    @pytest.fixture(scope="class")
    def pi(self):
        yield from boot("raspi3b", "stock")

    @MODES
    def test_the_default_line_is_a_placeholder(self, pi, foreground):
        assert refused(pi, foreground) == [
            "Exception: open: Input/output error",
            "Serial line /dev/ttyS0: no UART answers behind this port (serial8250 found none "
            "there: the port is a placeholder); name the controller's line with --device; on a "
            "Raspberry Pi that is the PL011, /dev/ttyAMA0, once Bluetooth has let it go " +
            PI_ADVICE]

    @MODES
    def test_the_pl011_is_bluetooths(self, pi, foreground):
        assert refused(pi, foreground, "/dev/ttyAMA0") == [
            "Exception: open: No such file or directory",
            "Serial line /dev/ttyAMA0: there is no such device; the kernel holds the serial "
            "port 3f201000.serial for brcm,bcm43438-bt, which leaves it no node: a Raspberry "
            "Pi's PL011 given to Bluetooth " + PI_ADVICE]


class TestTheMiniUart:
    """Bluetooth off, the shell channel on the PL011, the controller on the
    mini UART."""

    @pytest.fixture(scope="class")
    def pi(self):
        yield from boot("raspi3b-mini-uart", "bluetooth-off")

    @MODES
    def test_it_is_refused_for_want_of_parity(self, pi, foreground):
        # Twice: the second start finds the line as the first left it.
        for _ in range(2):
            assert refused(pi, foreground, "/dev/ttyS1") == [
                "Exception: set_option: Invalid argument",
                "Serial line /dev/ttyS1: the port did not keep even parity, which the controller "
                "needs (9600 baud, 8 data bits, even parity): it is a Raspberry Pi's mini UART, "
                "which has no parity; wire the controller to the PL011, /dev/ttyAMA0 " + PI_ADVICE]
        # qemu's mini UART sends its divisor's low byte at each change of
        # the line's settings; no command may be among those bytes.
        while select.select([pi.line], [], [], 0.5)[0] and (data := pi.line.recv(4096)):
            pi.received += data
        assert b"\x1b@" not in pi.received


def fdt(tree, node, name):
    return subprocess.run(["fdtget", tree, node, name], capture_output=True, text=True,
                          check=True).stdout.split()


def test_the_overlay_moves_the_pl011_to_gpio_14_and_15_on_every_such_pi():
    kernel_dir = guest_kernel.kernel_dir("arm64", SUITE)
    pins = GPIO + "/pl011-gpio14"
    with tempfile.TemporaryDirectory() as work:
        for name in map(os.path.basename, guest_kernel.PI_TREES):
            tree = with_overlay(os.path.join(kernel_dir, name), os.path.join(work, name), work)
            assert fdt(tree, PL011, "pinctrl-0") == fdt(tree, pins, "phandle"), name
            assert (fdt(tree, pins, "brcm,pins"), fdt(tree, pins, "brcm,function")) == \
                (["14", "15"], ["4"]), name
            assert fdt(tree, PL011 + "/bluetooth", "status") == ["disabled"], name
            assert fdt(tree, MINI_UART, "status") == ["disabled"], name
            assert fdt(tree, "/aliases", "serial0") == [PL011], "ttyAMA0 by the alias"
