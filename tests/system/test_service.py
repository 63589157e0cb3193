"""The mode for service managers: with --foreground the started process
is the daemon, it says when it is ready and when it stops, and SIGTERM
and SIGINT bring the same orderly stop as "exit" in the control file."""
import os
import termios

import pytest

from quorin_sim import STARTUP_COMMAND, brightness_command, brightness_level, encode_record
from sandbox import (DAEMON, LOG_FILE, LOG_USER_INFO, SEPARATOR, STUB, STUB_LOG, stable_text,
                     wait_for)


def ready(sandbox, process):
    assert sandbox.receive(5) == STARTUP_COMMAND
    assert sandbox.notification("READY") == "READY=1"
    # Ready only once the start is logged and the control file polled.
    assert sandbox.wait_syslog("Daemon started", timeout=0)[0] == LOG_USER_INFO
    assert sandbox.read("/tmp/backlight") == ""
    assert process.poll() is None, "the started process must be the daemon"
    return sandbox.daemon_pid()


@pytest.mark.parametrize("signal", ["TERM", "INT"])
def test_signal_brings_the_orderly_stop(sandbox, signal):
    process = sandbox.start_foreground()
    pid = ready(sandbox, process)
    assert sandbox.daemon_pids() == [pid]
    sandbox.write("/tmp/backlight", "40\n")
    assert sandbox.receive(5) == b"\x1b@0Ci"
    sandbox.run(["kill", "-" + signal, str(pid)])
    assert process.wait(10) == 0
    assert sandbox.notification("STOPPING") == "STOPPING=1"
    assert sandbox.wait_syslog("Daemon stopped")[0] == LOG_USER_INFO
    assert sandbox.read(LOG_FILE) == SEPARATOR
    assert sandbox.line_is_quiet()


def test_exit_in_the_control_file_still_stops_it(sandbox):
    process = sandbox.start_foreground()
    ready(sandbox, process)
    sandbox.write("/tmp/backlight", "exit\n")
    assert process.wait(10) == 0
    assert sandbox.notification("STOPPING") == "STOPPING=1"
    sandbox.wait_syslog("Daemon stopped")


def test_device_option_names_the_line(sandbox):
    # The pty moves from /dev/ttyS0 to /dev/ttyUSB0.
    moved = sandbox.run(["sh", "-c", "touch /dev/ttyUSB0 && mount --bind /dev/ttyS0 /dev/ttyUSB0"
                         " && umount /dev/ttyS0 && rm /dev/ttyS0"])
    assert moved.returncode == 0, moved
    process = sandbox.start_foreground("--device", "/dev/ttyUSB0")
    ready(sandbox, process)
    sandbox.run(["kill", "-TERM", str(sandbox.daemon_pid())])
    assert process.wait(10) == 0

    process = sandbox.start_foreground()
    assert process.wait(10) == 1
    assert stable_text(process.stderr.read()) == "Exception: open: No such file or directory\n"


def test_log_file_behind_a_link_is_refused_in_the_foreground_too(sandbox):
    sandbox.run(["ln", "-s", "/tmp/elsewhere", LOG_FILE])
    process = sandbox.start_foreground()
    assert process.wait(10) == 1
    assert sandbox.wait_syslog("Unable to open")[2] == \
        "Unable to open output log file %s: Too many levels of symbolic links" % LOG_FILE
    assert not os.path.exists(sandbox.path("/tmp/elsewhere"))


def test_without_foreground_a_signal_still_ends_it_at_once(daemon):
    pid = daemon.daemon_pid()
    daemon.run(["kill", "-TERM", str(pid)])
    assert daemon.wait_exit(pid) == -15
    assert not [entry for entry in daemon.syslog() if "Daemon stopped" in entry[2]]


def test_informational_options_and_a_bad_command_line(sandbox):
    for option, status, stream in (("--help", 0, "stdout"), ("--version", 0, "stdout"),
                                   ("--bogus", 2, "stderr"), ("--device", 2, "stderr")):
        result = sandbox.run([DAEMON, option], env={"LD_PRELOAD": STUB, "QUORIN_STUB_LOG": STUB_LOG})
        assert result.returncode == status, option
        text = getattr(result, stream).decode()
        assert text.startswith("quorinDaemon 1.0.0" if option == "--version" else
                               "Usage: " if option == "--help" else "quorinDaemon: "), text
        assert not getattr(result, "stderr" if stream == "stdout" else "stdout")
    assert sandbox.line_is_quiet() and not sandbox.stub_log()


def test_status_line_follows_the_line_and_the_watchdog_both_threads(sandbox):
    process = sandbox.start_foreground(env={"WATCHDOG_USEC": "400000"})
    ready(sandbox, process)
    assert sandbox.notification("STATUS") == \
        "STATUS=ttyS0: no records yet, 0 bad; brightness not set yet"
    sandbox.sync_decoder().send(b"".join(encode_record(x, x, True) for x in (1, 2, 3)))
    sandbox.write("/tmp/backlight", "50\n")
    assert sandbox.receive(5) == brightness_command(brightness_level(50))
    assert sandbox.notification("STATUS=ttyS0: 3 records, 0 bad, last 0 s ago; brightness 15")
    sandbox.send(encode_record(4, 4, True)[:-1] + b"x" + encode_record(5, 5, True))
    assert sandbox.notification("STATUS=ttyS0: 4 records, 1 bad, last 0 s ago; brightness 15")
    assert sandbox.notifications(1).count("WATCHDOG=1") >= 3

    # A brightness command that cannot be written holds the backlight
    # thread: the watchdog goes hungry while the I/O thread still reports.
    termios.tcflow(sandbox.slave, termios.TCOOFF)
    sandbox.write("/tmp/backlight", "60\n")
    sandbox.notifications(0.3)
    held = sandbox.notifications(1.5)
    assert "WATCHDOG=1" not in held and any(m.startswith("STATUS=") for m in held), held
    termios.tcflow(sandbox.slave, termios.TCOON)
    assert sandbox.receive(5) == brightness_command(brightness_level(60))
    assert sandbox.notification("WATCHDOG") == "WATCHDOG=1"
    sandbox.run(["kill", "-TERM", str(sandbox.daemon_pid())])
    assert process.wait(10) == 0


def test_an_io_thread_stuck_in_a_handler_starves_the_watchdog(sandbox):
    # The first event write never returns: the I/O thread's own timer stops.
    process = sandbox.start_foreground(env={"WATCHDOG_USEC": "400000", "QUORIN_STUB_HANG": "10"})
    ready(sandbox, process)
    assert sandbox.notification("WATCHDOG") == "WATCHDOG=1"
    sandbox.sync_decoder().send(encode_record(1, 1, True))
    wait_for(lambda: "hang" in sandbox.stub_log(), what="the write to hang")
    sandbox.notifications(0.3)
    sandbox.write("/tmp/backlight", "50\n")
    assert sandbox.receive(5) == brightness_command(brightness_level(50)), "backlight thread alive"
    assert sandbox.notifications(1.5) == []
    sandbox.run(["kill", "-KILL", str(sandbox.daemon_pid())])
    process.wait(10)


def test_without_a_watchdog_none_is_fed(sandbox):
    process = sandbox.start_foreground()
    ready(sandbox, process)
    assert "WATCHDOG=1" not in sandbox.notifications(1.2)
    sandbox.run(["kill", "-TERM", str(sandbox.daemon_pid())])
    assert process.wait(10) == 0
