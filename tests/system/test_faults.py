"""Faults from outside while the daemon runs: the control file pulled away
or changed under it, its log file rotated, a second start racing a stop,
and both worker threads busy at once (the run that gives ThreadSanitizer
something to watch)."""
import gzip
import os
import random
import shutil
import threading
import time

import pytest

from quorin_sim import STARTUP_COMMAND, brightness_level
from quorin_sim import encode_record as record
from sandbox import LOG_FILE, LOG_USER_ERR, PROJECT, SEPARATOR, wait_for

CONTROL = "/tmp/backlight"


def brightness_command(percent):
    return b"\x1b@%02Xi" % brightness_level(percent)


def own_control_file(box, pid):
    """The daemon's open descriptor of the control file, as a path to open."""
    fds = "/proc/%d/fd/" % pid
    for fd in os.listdir(box.path(fds)):
        if os.readlink(box.path(fds + fd)) == CONTROL:
            return box.path(fds + fd)
    raise AssertionError("the daemon holds no descriptor of " + CONTROL)


def write_through(path, text):
    with open(path, "w") as f:
        f.write(text)


def replaced_by_a_directory(box):
    os.remove(box.path(CONTROL))
    os.mkdir(box.path(CONTROL))


def made_unreadable(box):
    os.chmod(box.path(CONTROL), 0)


# A plain file put in its place is taken up instead (test_backlight.py).
@pytest.mark.parametrize("change", [replaced_by_a_directory, made_unreadable],
                         ids=lambda change: change.__name__)
def test_control_file_changed_under_the_daemon_is_still_read_through_its_descriptor(daemon, change):
    pid = daemon.daemon_pid()
    own = own_control_file(daemon, pid)
    change(daemon)
    time.sleep(0.1)  # dozens of turns
    assert daemon.daemon_pids() == [pid], "a stop request under the name is not the daemon's file"
    assert daemon.line_is_quiet()
    write_through(own, "60\n")
    assert daemon.receive(5) == brightness_command(60)
    write_through(own, "exit\n")
    assert daemon.wait_exit(pid) == 0
    daemon.wait_syslog("Daemon stopped")
    assert not [m for _, _, m in daemon.syslog() if "failed" in m], "no read ever failed"


def test_control_file_that_is_a_second_name_of_another_file_is_refused(sandbox):
    """It is emptied at every start: a hard link planted at its name must
    not empty the file it names."""
    sandbox.write("/tmp/target", "keep me\n")
    os.link(sandbox.path("/tmp/target"), sandbox.path(CONTROL))
    assert sandbox.start_daemon().returncode == 0
    priority, _, message = sandbox.wait_syslog("Read failed")
    assert (priority, message) == (LOG_USER_ERR, "Read failed: Too many links")
    assert sandbox.read("/tmp/target") == "keep me\n"
    assert sandbox.daemon_pids(), "the touch path runs on without the control file"


def test_forced_log_rotation_keeps_later_reports_in_the_live_file(daemon):
    """The packaged rule copies the file and empties it in place: the
    daemon's appends go on at the start of the live file. The rule is used
    as installed, 0644: logrotate refuses a group-writable one, which a
    checkout made with umask 002 has."""
    rule = "/tmp/logrotate.rule"
    shutil.copyfile(os.path.join(PROJECT, "packaging", "logrotate"), daemon.path(rule))
    os.chmod(daemon.path(rule), 0o644)
    logrotate = ["logrotate", "-s", "/tmp/logrotate.state", rule]
    checked = daemon.run([logrotate[0], "--debug", *logrotate[1:]])
    assert checked.returncode == 0 and b"error" not in checked.stderr, checked
    daemon.sync_decoder().send(b"\x1b!0010020!x")
    wait_for(lambda: "- bad" in daemon.read(LOG_FILE), what="a report")
    before = daemon.read(LOG_FILE)
    rotated = daemon.run([logrotate[0], "-f", *logrotate[1:]])
    assert rotated.returncode == 0, rotated
    with gzip.open(daemon.path(LOG_FILE + ".1.gz"), "rt") as old:
        assert old.read() == before
    daemon.send(b"\x1b!0030040!y")
    wait_for(lambda: daemon.read(LOG_FILE).count("- bad") == 1, what="a report after rotation")
    assert daemon.read(LOG_FILE) == ("Buf len: 21| startpos: 10- bad\n"
                                     "!0010020![120][27]!0030040![121]\n")


@pytest.mark.parametrize("delay", [0.0, 0.003, 0.01, 0.03])
def test_start_racing_a_stop_is_refused_or_runs_alone(daemon, delay):
    """However the start and the stop interleave, at most one daemon runs
    afterwards, and one that starts is not stopped by the old request."""
    first = daemon.daemon_pid()
    started = {}
    starter = threading.Thread(target=lambda: started.update(result=daemon.start_daemon()))
    starter.start()
    time.sleep(delay)
    daemon.write(CONTROL, "exit\n")
    starter.join(30)
    assert daemon.wait_exit(first) == 0
    result = started["result"]
    if result.returncode == 1:
        assert result.stdout.decode().splitlines()[-1] == "Another instance already running. exiting."
        time.sleep(0.2)
        assert not daemon.daemon_pids()
        assert daemon.line_is_quiet(), "a refused start must not touch the line"
        return
    assert result.returncode == 0, result
    assert daemon.receive(5) == STARTUP_COMMAND
    second = daemon.wait_forks_gone()
    assert second != first
    time.sleep(0.2)
    assert daemon.daemon_pids() == [second], "the old stop request must not stop the new daemon"
    assert daemon.read(LOG_FILE) == SEPARATOR * 2
    daemon.write(CONTROL, "70\n")
    assert daemon.receive(5) == brightness_command(70)
    assert daemon.stop_daemon() == 0


def test_touches_and_brightness_requests_at_once(daemon):
    """Touch records stream in on the I/O thread while the backlight thread
    writes commands to the same line: nothing is lost or torn on either."""
    daemon.sync_decoder()
    rng = random.Random(11)
    sent = []
    requests_done = threading.Event()

    def send_touches():
        while not requests_done.is_set() or len(sent) < 100:
            touch = (rng.randrange(4096), rng.randrange(4096), rng.random() < 0.5)
            daemon.send(record(*touch))
            sent.append(touch)
            time.sleep(0.001)

    sender = threading.Thread(target=send_touches)
    sender.start()
    try:
        for percent in list(range(0, 101, 4)) + [3]:
            daemon.write(CONTROL, "%d\n" % percent)
            assert daemon.receive(5) == brightness_command(percent)
    finally:
        requests_done.set()
        sender.join(30)
    expected = [(x, y, int(touched)) for x, y, touched in sent]
    assert daemon.wait_touches(len(expected)) == expected
    assert daemon.line_is_quiet(), "one command per changed text, nothing else"
