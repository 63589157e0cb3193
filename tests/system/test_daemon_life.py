"""Start, detach, single instance and the orderly stop."""
import grp
import os
import pwd
import select
import stat

import pytest

from quorin_sim import STARTUP_COMMAND
from quorin_sim import encode_record as record
from sandbox import LOG_FILE, LOG_USER_ERR, LOG_USER_INFO, SEPARATOR, stable_text, wait_for


def test_start_detaches_and_announces_itself(sandbox):
    sandbox.write(LOG_FILE, "earlier run\n")
    os.chmod(sandbox.path(LOG_FILE), 0o644)
    result = sandbox.start_daemon()
    assert result.returncode == 0
    assert result.stdout == b"" and result.stderr == b""
    assert sandbox.receive(5) == STARTUP_COMMAND
    assert sandbox.wait_syslog("Daemon started")[:2] == (LOG_USER_INFO, "quorinDaemon")
    assert sandbox.read(LOG_FILE) == "earlier run\n" + SEPARATOR

    pid = sandbox.wait_forks_gone()
    proc = "/proc/%d/" % pid
    session = int(sandbox.read(proc + "stat").rsplit(")", 1)[1].split()[3])
    assert session != pid, "the daemon must not be a session leader"
    assert os.readlink(sandbox.path(proc + "cwd")) == "/"
    assert "Umask:\t0000" in sandbox.read(proc + "status")
    fds = {n: os.readlink(sandbox.path(proc + "fd/%d" % n)) for n in (0, 1, 2)}
    assert fds == {0: "/dev/null", 1: LOG_FILE, 2: LOG_FILE}
    flags = sandbox.read(proc + "fdinfo/1").split("flags:")[1].split()[0]
    assert int(flags, 8) & (os.O_APPEND | os.O_NONBLOCK) == os.O_APPEND


def test_log_file_is_created_with_mode_0644(daemon):
    status = os.stat(daemon.path(LOG_FILE))
    assert stat.S_IMODE(status.st_mode) == 0o644
    assert daemon.read(LOG_FILE) == SEPARATOR


def test_each_start_appends_one_separator(sandbox):
    for run in range(2):
        sandbox.start_ready()
        assert sandbox.stop_daemon() == 0
        sandbox.syslog_seen.clear()
    assert sandbox.read(LOG_FILE) == SEPARATOR * 2


def test_second_start_is_refused_while_one_runs(daemon):
    pid = daemon.daemon_pid()
    stub_calls = len(daemon.stub_log())
    result = daemon.start_daemon()
    assert result.returncode == 1
    lines = result.stdout.decode().splitlines()
    assert lines[-1] == "Another instance already running. exiting."
    assert lines[:-1] and all(l.split() == [str(pid), "quorinDaemon"] for l in lines[:-1])
    assert daemon.line_is_quiet(), "a refused start must not touch the line"
    assert len(daemon.stub_log()) == stub_calls, "a refused start must not open uinput"
    assert daemon.daemon_pids() == [pid]


def test_second_start_is_refused_when_the_running_pid_contains_the_starters(sandbox):
    """A daemon at 412 and a starter at 12: the guard drops only its own line."""
    sandbox.next_pid(410)
    sandbox.start_ready()
    pid = sandbox.daemon_pid()
    starter = pid % 100
    sandbox.next_pid(starter)
    result = sandbox.start_daemon(shell='echo $$; exec "$0"')
    lines = result.stdout.decode().splitlines()
    assert lines[0] == str(starter), "the starter did not get the pid arranged for it"
    assert result.returncode == 1
    assert [l.split() for l in lines[1:]] == [[str(pid), "quorinDaemon"],
                                              ["Another", "instance", "already", "running.", "exiting."]]
    assert sandbox.daemon_pids() == [pid]


def test_guard_that_cannot_run_never_blocks_the_start(sandbox):
    result = sandbox.start_daemon(env={"PATH": "/nonexistent"})
    assert result.returncode == 0
    assert sandbox.receive(5) == STARTUP_COMMAND


@pytest.mark.parametrize("closed", ["<&-", "<&- >&- 2>&-"], ids=["input", "all three"])
def test_start_with_standard_descriptors_closed(sandbox, closed):
    """The I/O context's own descriptors must not take 0, 1 or 2, which the
    redirect at detaching closes: touches get through and "exit" ends it."""
    sandbox.start_ready(shell='exec "$0" ' + closed)
    sandbox.send(record(1, 2, True))
    assert sandbox.wait_touches(1) == [(1, 2, 1)]
    assert sandbox.stop_daemon() == 0


def test_descriptors_inherited_from_the_starter_are_closed(sandbox):
    """A caller that reads a pipe the starter passed on, as $(...) does,
    gets its end once the start has returned."""
    reader, writer = os.pipe()
    assert sandbox.start_daemon(pass_fds=[writer]).returncode == 0
    os.close(writer)
    sandbox.wait_syslog("Daemon started")
    assert select.select([reader], [], [], 5)[0], "the daemon holds the pipe"
    assert os.read(reader, 1) == b""
    os.close(reader)


def test_missing_serial_device_fails_in_the_foreground(sandbox):
    os.remove(sandbox.path("/dev/ttyS0"))  # leaves the bind mount's target
    sandbox.run(["umount", "/dev/ttyS0"])
    result = sandbox.start_daemon()
    assert result.returncode == 1
    lines = ["Exception: open: No such file or directory",
             "Serial line /dev/ttyS0: there is no such device; name the controller's line with "
             "--device"]
    assert stable_text(result.stderr.decode()).splitlines() == lines
    for line in lines:
        priority, _, message = sandbox.wait_syslog(line[:20])
        assert (priority, stable_text(message)) == (LOG_USER_ERR, line)
    assert sandbox.stub_log() == [], "uinput must not be opened"
    assert [comm for _, comm in sandbox.processes()] == ["python3"]


def test_line_root_may_not_open_without_its_capabilities(sandbox):
    """As under the unit, which runs the daemon as root without a single
    capability: a port root neither owns nor may write is refused, and the
    line says whose it is."""
    os.chown(sandbox.path("/dev/ttyS0"), 1000, 20)
    os.chmod(sandbox.path("/dev/ttyS0"), 0o660)
    result = sandbox.start_daemon(shell='exec setpriv --bounding-set=-all "$0"')
    assert result.returncode == 1
    try:
        owner = pwd.getpwuid(1000).pw_name
    except KeyError:
        owner = "1000"
    assert stable_text(result.stderr.decode()).splitlines() == [
        "Exception: open: Permission denied",
        "Serial line /dev/ttyS0: permission denied (%s:%s 0660); run the daemon as root or as a "
        "user who may read and write it" % (owner, grp.getgrgid(20).gr_name)]
    assert sandbox.stub_log() == [], "uinput must not be opened"


def test_orderly_stop(daemon):
    pid = daemon.daemon_pid()
    daemon.write("/tmp/backlight", "exit\n")
    assert daemon.wait_exit(pid) == 0
    assert daemon.wait_syslog("Daemon stopped")[0] == LOG_USER_INFO
    messages = [m for _, _, m in daemon.syslog()]
    assert messages.index("Daemon started") < messages.index("Daemon stopped")
    assert daemon.line_is_quiet(), "a stop request sends nothing"
    assert "close" not in daemon.stub_log(), "the device lives until the process ends"


def planted_fifo_with_a_reader(box):
    os.mkfifo(box.path(LOG_FILE))
    box.fifo_reader = os.open(box.path(LOG_FILE), os.O_RDONLY | os.O_NONBLOCK)


@pytest.mark.parametrize("plant, error", [
    (lambda box: os.symlink("/tmp/target", box.path(LOG_FILE)), "Too many levels of symbolic links"),
    (lambda box: os.mkfifo(box.path(LOG_FILE)), "No such device or address"),
    (planted_fifo_with_a_reader, "Invalid argument"),
    (lambda box: os.link(box.path("/tmp/target"), box.path(LOG_FILE)), "Too many links"),
], ids=["symlink", "fifo", "fifo with a reader", "hard link"])
def test_log_file_that_is_not_a_plain_file_of_its_own_is_refused(sandbox, plant, error):
    """/tmp is anyone's: what is planted at the name neither holds the start
    nor gets the root daemon's output."""
    sandbox.write("/tmp/target", "untouched\n")
    plant(sandbox)
    assert sandbox.start_daemon().returncode == 0
    _, _, message = sandbox.wait_syslog("Unable to open output log file")
    assert message == "Unable to open output log file /tmp/quorin.daemon.out: " + error
    assert sandbox.wait_exit_status(1)
    assert not sandbox.daemon_pids()
    assert sandbox.read("/tmp/target") == "untouched\n"
    if hasattr(sandbox, "fifo_reader"):
        os.close(sandbox.fifo_reader)


@pytest.mark.parametrize("foreground", [False, True], ids=["detached", "foreground"])
def test_io_thread_that_cannot_start_stops_the_backlight_thread_first(sandbox, foreground):
    """In the foreground the backlight thread sleeps until it is woken."""
    env = {"QUORIN_STUB_FAIL_THREAD": "2"}
    if foreground:
        assert sandbox.start_foreground(env=env).wait(5) == 1
    else:
        result = sandbox.start_daemon(env=env)
        assert result.returncode == 0, "the failure comes after the daemon detached"
        assert sandbox.wait_exit_status(1)
    text = "Exception: boost::thread_resource_error: Resource temporarily unavailable"
    priority, _, message = sandbox.wait_syslog("Exception")
    assert (priority, stable_text(message)) == (LOG_USER_ERR, text)
    assert stable_text(sandbox.read(LOG_FILE)) == SEPARATOR + text + "\n"
    assert not [m for _, _, m in sandbox.syslog() if m == "Daemon stopped"]
