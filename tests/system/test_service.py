"""The mode for service managers: with --foreground the started process
is the daemon, it says when it is ready and when it stops, and SIGTERM
and SIGINT bring the same orderly stop as "exit" in the control file."""
import os
import re
import signal
import termios
import time

import pytest

from quorin_sim import STARTUP_COMMAND, brightness_command, brightness_level, encode_record
from sandbox import (DAEMON, LOG_FILE, LOG_USER_INFO, LOG_USER_NOTICE, SEPARATOR, STUB,
                     STUB_LOG, stable_text, wait_for)


def ready(sandbox, process):
    assert sandbox.receive(5) == STARTUP_COMMAND
    assert sandbox.notification("READY") == "READY=1"
    # Ready only once the start is logged and the control file polled.
    assert sandbox.wait_syslog("Daemon started", timeout=0)[0] == LOG_USER_INFO
    assert sandbox.read("/tmp/backlight") == ""
    assert process.poll() is None, "the started process must be the daemon"
    return sandbox.daemon_pid()


METRICS_DIR = "/var/lib/prometheus/node-exporter"
METRICS = METRICS_DIR + "/quorin.prom"


def metric(text, name):
    """The value of the one sample of `name` in a metrics text, or None."""
    match = re.search(r"^%s\{[^}]*\} (\d+)$" % name, text, re.M)
    return match and int(match[1])


def wait_metric(sandbox, name, value, timeout=5):
    """The metrics file's text once `name` has `value` in it."""
    def text():
        try:
            found = sandbox.read(METRICS)
        except FileNotFoundError:
            return None
        return found if metric(found, name) == value else None
    return wait_for(text, timeout, "%s %s in the metrics file" % (name, value))


def given_up(what):
    return "Stop requested: %s command given up\n" % what


@pytest.mark.parametrize("name,text", [("TERM", "40\n"), ("INT", "40\n"), ("TERM", None)])
def test_signal_brings_the_orderly_stop(sandbox, name, text):
    """Without a watchdog the idle loop turns once a minute: only the
    signal's own wake-up can stop it in time when the file is left alone."""
    process = sandbox.start_foreground()
    pid = ready(sandbox, process)
    assert sandbox.daemon_pids() == [pid]
    if text:
        sandbox.write("/tmp/backlight", text)
        assert sandbox.receive(5) == b"\x1b@0Ci"
    sandbox.run(["kill", "-" + name, str(pid)])
    assert process.wait(10) == 0
    assert sandbox.notification("STOPPING") == "STOPPING=1"
    assert sandbox.wait_syslog("Daemon stopped")[0] == LOG_USER_INFO
    assert sandbox.read(LOG_FILE) == SEPARATOR
    assert sandbox.line_is_quiet()


def test_stop_gives_up_a_brightness_command_the_line_holds(sandbox):
    process = sandbox.start_foreground()
    pid = ready(sandbox, process)
    sandbox.hold_line()
    sandbox.write("/tmp/backlight", "60\n")
    time.sleep(0.3)  # the command is waiting on the line
    sandbox.run(["kill", "-TERM", str(pid)])
    assert process.wait(5) == 0
    sandbox.wait_syslog("Daemon stopped")
    assert sandbox.read(LOG_FILE) == SEPARATOR + given_up("brightness")
    sandbox.hold_line(False)
    assert sandbox.line_is_quiet()


def test_stop_during_the_start_up_command_is_no_failed_start(sandbox):
    sandbox.hold_line()
    process = sandbox.start_foreground()
    # The line is set up last before the start-up command is written.
    wait_for(lambda: sandbox.line_attributes()[5] == termios.B9600, what="the line's speed")
    sandbox.run(["kill", "-TERM", str(sandbox.daemon_pid())])
    assert process.wait(5) == 0
    assert process.stdout.read() == given_up("start-up") and process.stderr.read() == ""
    sandbox.wait_syslog("Daemon stopped")
    assert not [m for _, _, m in sandbox.syslog() if "Exception" in m]


def test_a_dead_line_still_fails_the_write(sandbox):
    os.makedirs(sandbox.path(METRICS_DIR))
    process = sandbox.start_foreground()
    pid = ready(sandbox, process)
    sandbox.hang_up()
    sandbox.write("/tmp/backlight", "60\n")
    # The stable part: newer Boost appends where the error was raised.
    assert sandbox.wait_syslog("Exception")[2].startswith("Exception: write: Input/output error")
    given = wait_metric(sandbox, "quorin_brightness_commands_given_up_total", 1)
    assert metric(given, "quorin_brightness_commands_total") == 0
    sandbox.run(["kill", "-TERM", str(pid)])
    assert process.wait(5) == 0


def test_a_stop_signal_the_starter_blocked_still_stops_it(sandbox):
    process = sandbox.start_foreground(blocked={signal.SIGTERM, signal.SIGINT})
    sandbox.run(["kill", "-TERM", str(ready(sandbox, process))])
    assert process.wait(5) == 0


def test_without_foreground_no_service_manager_is_told_anything(sandbox):
    sandbox.start_ready(env=sandbox.listen_for_notifications())
    assert sandbox.stop_daemon() == 0
    assert sandbox.notifications(0.3) == []


def test_a_request_written_in_two_parts_is_seen_at_each(sandbox):
    process = sandbox.start_foreground()
    ready(sandbox, process)
    fd = os.open(sandbox.path("/tmp/backlight"), os.O_WRONLY)
    try:
        os.write(fd, b"5")
        assert sandbox.receive(5) == brightness_command(brightness_level(5))
        os.write(fd, b"0\n")
        assert sandbox.receive(5) == brightness_command(brightness_level(50))
    finally:
        os.close(fd)
    assert sandbox.line_is_quiet()


def test_a_control_file_that_cannot_be_watched_is_polled(sandbox):
    process = sandbox.start_foreground(env={"QUORIN_STUB_FAIL_WATCH": "1"})
    pid = ready(sandbox, process)
    sandbox.write("/tmp/backlight", "50\n")
    assert sandbox.receive(5) == brightness_command(brightness_level(50))
    sandbox.write("/tmp/backlight", "exit\n")
    assert process.wait(5) == 0
    assert [m for _, _, m in sandbox.syslog() if "not watched" in m] == \
        ["Control file not watched: No space left on device; polling it every 1400 us"]

    os.remove(sandbox.path("/tmp/backlight"))
    os.mkdir(sandbox.path("/tmp/backlight"))
    process = sandbox.start_foreground()
    sandbox.wait_syslog("Read failed: Is a directory")
    sandbox.run(["kill", "-TERM", str(sandbox.daemon_pid())])
    assert process.wait(5) == 0
    assert [m for _, _, m in sandbox.syslog() if "not watched" in m][1:] == \
        ["Control file not watched: Is a directory; polling it every 1400 us"]


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
    assert stable_text(process.stderr.read()).splitlines() == [
        "Exception: open: No such file or directory",
        "Serial line /dev/ttyS0: there is no such device; name the controller's line with --device"]


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
    for option in ("--help", "--version"):
        result = sandbox.run(["sh", "-c", '"$0" %s > /dev/full' % option, DAEMON])
        assert (result.returncode, result.stderr) == \
            (1, b"quorinDaemon: write error: No space left on device\n"), option
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
    sandbox.hold_line()
    sandbox.write("/tmp/backlight", "60\n")
    sandbox.notifications(0.3)
    held = sandbox.notifications(1.5)
    assert "WATCHDOG=1" not in held and any(m.startswith("STATUS=") for m in held), held
    sandbox.hold_line(False)
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


def test_the_metrics_file_is_replaced_whole_and_goes_at_the_stop(sandbox):
    os.makedirs(sandbox.path(METRICS_DIR))
    version = sandbox.run([DAEMON, "--version"]).stdout.decode().split()[1]
    started = int(time.time())
    process = sandbox.start_foreground()
    pid = ready(sandbox, process)
    first = wait_metric(sandbox, "quorin_records_total", 0)
    assert started <= metric(first, "quorin_start_time_seconds") <= time.time()
    assert 'quorin_build_info{port="ttyS0",version="%s"} 1\n' % version in first
    assert "quorin_last_record_timestamp_seconds" not in first
    assert "quorin_brightness_level" not in first

    scrape = open(sandbox.path(METRICS))  # a scrape under way keeps what it opened
    sandbox.sync_decoder().send(b"".join(encode_record(x, x, True) for x in (1, 2, 3)))
    sandbox.send(encode_record(4, 4, True)[:-1] + b"x")
    sandbox.write("/tmp/backlight", "50\n")
    assert sandbox.receive(5) == brightness_command(brightness_level(50))
    later = wait_metric(sandbox, "quorin_brightness_commands_total", 1)
    later = wait_metric(sandbox, "quorin_records_total", 3)
    assert scrape.read() == first, "rewritten in place"
    assert metric(later, "quorin_records_rejected_total") == 1
    assert started <= metric(later, "quorin_last_record_timestamp_seconds") <= time.time()
    assert metric(later, "quorin_brightness_level") == brightness_level(50)
    assert metric(later, "quorin_brightness_commands_given_up_total") == 0
    assert os.listdir(sandbox.path(METRICS_DIR)) == ["quorin.prom"]
    assert os.stat(sandbox.path(METRICS)).st_mode & 0o777 == 0o644  # the daemon's mask is 0

    # A steady stream changes the figures at every tick: a rewrite a
    # second at most, however fast they change.
    versions, until = set(), time.monotonic() + 2.5
    while time.monotonic() < until:
        sandbox.send(encode_record(5, 5, True))
        info = os.stat(sandbox.path(METRICS))
        versions.add((info.st_ino, info.st_mtime_ns))
        time.sleep(0.02)
    assert 2 <= len(versions) <= 4, versions

    sandbox.run(["kill", "-TERM", str(pid)])
    assert process.wait(10) == 0
    assert os.listdir(sandbox.path(METRICS_DIR)) == []


def test_without_the_directory_no_metrics_and_one_log_line_until_it_comes(sandbox):
    process = sandbox.start_foreground("--metrics-file", "/tmp/none/quorin.prom")
    pid = ready(sandbox, process)
    message = "Metrics not written to /tmp/none/quorin.prom: No such file or directory"
    assert sandbox.wait_syslog(message)[0] == LOG_USER_NOTICE
    sandbox.sync_decoder().send(encode_record(1, 1, True))
    time.sleep(2.2)  # two more ticks with a figure changed
    assert [m for _, _, m in sandbox.syslog() if m.startswith("Metrics")] == [message]
    # node-exporter installed later: its directory is taken up at a tick.
    os.makedirs(sandbox.path("/tmp/none"))
    late = sandbox.path("/tmp/none/quorin.prom")
    wait_for(lambda: os.path.exists(late), 3, "the metrics file in the new directory")
    assert metric(open(late).read(), "quorin_records_total") == 1
    sandbox.run(["kill", "-TERM", str(pid)])
    assert process.wait(10) == 0


def test_started_without_arguments_it_writes_no_metrics(sandbox):
    os.makedirs(sandbox.path(METRICS_DIR))
    sandbox.start_ready()
    sandbox.sync_decoder().send(encode_record(1, 1, True))
    sandbox.wait_touches(1)
    time.sleep(1.5)  # a service would have written by now
    assert os.listdir(sandbox.path(METRICS_DIR)) == []
    assert sandbox.stop_daemon() == 0
