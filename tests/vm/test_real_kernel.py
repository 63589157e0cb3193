"""The unmodified daemon on a real Linux kernel: a real uinput device that
an evdev reader sees, a real UART driver behind the controller's line (a
16550 as /dev/ttyS0, or a Raspberry Pi's PL011 as /dev/ttyAMA0).

One guest serves the whole module and the tests run in file order on it,
once as the daemon started from a shell runs and once as a service
manager runs it (--foreground): the daemon is started, touched, asked for
brightness, and stopped by the last tests. The input core drops an event equal to the axis's or key's
current value, so the reader reports the whole state at each SYN_REPORT,
and a record that changes nothing yields no report at all.
"""
import os
import random
import sys
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import quorin_sim as sim  # noqa: E402

ABS_X, ABS_Y, BTN_TOUCH = 0, 1, 330
EV_SYN, EV_KEY, EV_ABS = 0, 1, 3


@pytest.fixture(scope="module", params=["detached", "service"])
def daemon(guest, request):
    """The daemon started in the guest, its device watched by the reader,
    and the line synchronised past the decoder's start-up discard."""
    trace_before = len(guest.uart_settings())
    guest.logged_before = guest.syslog()
    guest.status = guest.start_daemon(foreground=request.param == "service")
    # Its options are set before it writes this: from now on the line is raw.
    guest.first_bytes = guest.receive(5)
    guest.uart_changes = guest.uart_settings()[trace_before:]
    ready = guest.watch_touches().split()
    guest.state = tuple(int(field.split("=")[1]) for field in ready[1:])
    guest.sync_line()
    return guest


def logged_since_start(guest):
    """The system log since the fixture started this mode's daemon."""
    return guest.syslog()[len(guest.logged_before):]


def expected_reports(samples, before):
    """What the reader reports for these samples: one state per sample,
    except where a sample repeats the state before it."""
    expected, state = [], before
    for x, y, touched in samples:
        if (x, y, int(touched)) != state:
            state = (x, y, int(touched))
            expected.append((x, y, touched))
    return expected


def play(guest, chunks, samples, pause=0.0):
    """Sends the chunks (with `pause` between them) and checks that the
    reader got exactly one report per changed state of `samples`, and that
    the device's state read back with EVIOCGABS/EVIOCGKEY is the last one."""
    seen = len(guest.reports())
    expected = expected_reports(samples, guest.state)
    for chunk in chunks:
        guest.send(chunk)
        time.sleep(pause)
    guest.wait_reports(seen + len(expected))
    assert guest.line_is_quiet(0.2)
    assert guest.reports()[seen:] == expected
    assert not [line for line in guest.reader_output() if line.startswith("dropped")]
    guest.state = (*expected[-1][:2], int(expected[-1][2]))
    assert "state x=%d y=%d touch=%d" % guest.state in guest.check("evdev_reader describe")


def test_daemon_starts_and_the_startup_command_comes_first(daemon):
    assert daemon.status == 0
    assert daemon.first_bytes == b"\x1b@s\x00\x00"
    assert "user.info quorinDaemon: Daemon started" in logged_since_start(daemon)
    assert daemon.daemon_running()


def test_uart_is_set_to_9600_baud_even_parity_8_data_bits(daemon):
    # The driver kept the settings, as a reviewer reads them on the device.
    settings = daemon.check("stty -F %s -a" % daemon.controller)
    assert "speed 9600 baud" in settings
    assert {"parenb", "-parodd", "cs8", "inpck", "-ignpar", "-parmrk"} <= set(settings.split())
    if daemon.board:
        return  # qemu traces no parameters of the Pi's UARTs
    # qemu's UART saw them take effect, the last change before the start-up
    # command was written being the finished one.
    assert daemon.uart_changes, "the daemon changed no UART parameter"
    baud, parity, data_bits, _ = daemon.uart_changes[-1]
    assert (baud, parity, data_bits) == (9600, "E", 8)


def test_uinput_touch_announces_a_touch_screen(daemon):
    lines = daemon.check("evdev_reader describe").splitlines()
    assert lines[:4] == ["name uinput-touch",
                         "id bus=3 vendor=1234 product=fedc version=1",
                         "types %d %d %d" % (EV_SYN, EV_KEY, EV_ABS),
                         "keys %d" % BTN_TOUCH]
    assert [line for line in lines if line.startswith("abs ")] == [
        "abs %d min=0 max=4095 fuzz=0 flat=0" % axis for axis in (ABS_X, ABS_Y)]
    devices = daemon.read("/proc/bus/input/devices")
    assert devices.count('N: Name="uinput-touch"') == 1


def test_touches_and_releases_reach_the_reader(daemon):
    samples = (sim.tap(419, 4095) + sim.tap(4095, 0) + sim.tap(0, 0) + sim.tap(2048, 1024)
               # a release where the finger went down changes only the key
               + [(2048, 1024, True), (3000, 1024, True), (3000, 1024, False)])
    play(daemon, sim.encode_samples(samples), samples, pause=0.02)


def test_a_burst_of_records_arrives_whole(daemon):
    samples = sim.drag(100, 4000, 4000, 100, steps=40) + sim.random_touches(10, seed=6)
    play(daemon, [b"".join(sim.encode_samples(samples))], samples)


def test_a_noisy_line_loses_only_the_broken_records(daemon):
    samples = sim.drag(0, 2000, 4095, 2000, steps=30) + sim.random_touches(10, seed=3)
    noisy = sim.add_noise(sim.encode_samples(samples), 0.2, random.Random(11), stray=0.5)
    # NUL is what the line makes of a character with a parity error.
    stream = b"\x00".join(data for data, _ in noisy)
    intact = [sample for sample, (_, whole) in zip(samples, noisy) if whole]
    assert len(intact) < len(samples)
    play(daemon, [stream[i:i + 64] for i in range(0, len(stream), 64)], intact)


def test_a_second_instance_is_refused(daemon):
    assert daemon.start_daemon() == 1
    assert daemon.line_is_quiet()
    assert daemon.daemon_running()


def test_brightness_requests_arrive_as_commands(daemon):
    for percent, digits in (("50\n", b"0F"), ("0", b"00"), ("33", b"0A"), ("52", b"10"),
                            ("100", b"1F")):
        daemon.write("/tmp/backlight", percent)
        assert daemon.receive(5) == b"\x1b@" + digits + b"i", percent
    daemon.write("/tmp/backlight", "100")
    assert daemon.line_is_quiet(), "the same text again sent a command"


def test_exit_stops_the_daemon_and_removes_the_device(daemon):
    daemon.write("/tmp/backlight", "exit\n")
    daemon.wait_shell("! pidof quorinDaemon", what="the daemon to end")
    assert not daemon.daemon_running()
    assert "user.info quorinDaemon: Daemon stopped" in logged_since_start(daemon)
    assert daemon.wait_shell("grep -x gone /tmp/reports", what="the reader to see the device go")
    assert "uinput-touch" not in daemon.read("/proc/bus/input/devices")
    assert daemon.line_is_quiet()


def test_a_service_stop_drops_output_the_line_holds(daemon):
    """A real UART held by XOFF keeps a command in its buffer, and closing
    the port would wait up to its closing delay, 30 s, for it to go."""
    daemon.start_daemon(foreground=True)
    assert daemon.receive(5) == b"\x1b@s\x00\x00"
    daemon.wait_shell("[ ! -s /tmp/backlight ]", what="the control file to be emptied")
    daemon.check("stty -F %s ixon" % daemon.controller)
    daemon.send(b"\x13")
    time.sleep(0.2)
    daemon.write("/tmp/backlight", "60\n")
    time.sleep(0.2)
    daemon.check("kill -TERM $(pidof quorinDaemon)")
    daemon.wait_shell("! pidof quorinDaemon", timeout=10, what="the daemon to end")
    daemon.send(b"\x11")
    assert daemon.line_is_quiet(), "the held command went out after all"
