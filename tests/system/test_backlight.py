"""The control file /tmp/backlight: brightness requests and the stop."""
import os
import stat
import time

import pytest

from sandbox import LOG_FILE, LOG_USER_ERR, stable_text, wait_for

CONTROL = "/tmp/backlight"


def command(digits):
    return b"\x1b@" + digits.encode() + b"i"


def request(box, text):
    box.write(CONTROL, text, "wb" if isinstance(text, bytes) else "w")


SCALE = [  # text, command digits; each differs from the one before
    ("0", "00"), ("1", "00"), ("2", "00"), ("3", "00"), ("4", "01"), ("10", "03"),
    ("33", "0A"), ("49", "0F"), ("50", "0F"), ("51", "0F"), ("52", "10"), ("97", "1E"),
    ("98", "1E"), ("99", "1E"), ("100", "1F"), ("250", "1F"), ("-5", "1F"), ("word", "1F"),
    ("\n", "1F"), (" 0", "1F"), ("4294967297", "1F"), ("+40", "0C"), ("00\n", "00"),
]


def write_in_place(box, text):
    box.write(CONTROL, text)


def write_by_rename(box, text):
    """As sed -i, an editor's safe write or a configuration tool does."""
    box.write(CONTROL + ".new", text)
    os.rename(box.path(CONTROL + ".new"), box.path(CONTROL))


def write_anew(box, text):
    """A clean-up of /tmp, then a shell's redirection."""
    os.remove(box.path(CONTROL))
    box.write(CONTROL, text)


@pytest.mark.parametrize("mode", ["plain", "service"])
@pytest.mark.parametrize("stop_writer", [write_by_rename, write_anew])
def test_a_request_is_never_lost_however_the_file_is_written(sandbox, mode, stop_writer):
    process = sandbox.start_in_mode(mode)
    pid = sandbox.daemon_pid()
    for write, text, digits in ((write_in_place, "50\n", "0F"), (write_by_rename, "100\n", "1F"),
                                (write_in_place, "4\n", "01"), (write_anew, "33\n", "0A"),
                                (write_in_place, "10\n", "03"), (write_by_rename, "10\n", None)):
        write(sandbox, text)
        if digits:
            assert sandbox.receive(5) == command(digits), (write.__name__, text)
        else:
            assert sandbox.line_is_quiet(), "the same text in a new file sends nothing"
    stop_writer(sandbox, "exit\n")
    assert (process.wait(5) if process else sandbox.wait_exit(pid)) == 0
    assert not [m for _, _, m in sandbox.syslog() if "refused" in m]


@pytest.mark.parametrize("mode", ["plain", "service"])
def test_a_link_or_fifo_renamed_over_the_file_is_refused_once(sandbox, mode):
    sandbox.start_in_mode(mode)
    sandbox.write("/tmp/target", "exit\n")
    os.symlink("/tmp/target", sandbox.path("/tmp/link"))
    os.rename(sandbox.path("/tmp/link"), sandbox.path(CONTROL))
    priority, _, message = sandbox.wait_syslog("Control file refused")
    assert (priority, message) == \
        (LOG_USER_ERR, "Control file refused: Too many levels of symbolic links; keeping the one held")
    os.mkfifo(sandbox.path("/tmp/fifo"))
    os.rename(sandbox.path("/tmp/fifo"), sandbox.path(CONTROL))
    wait_for(lambda: len([m for _, _, m in sandbox.syslog() if "refused" in m]) == 2)
    time.sleep(0.2)
    assert [m for _, _, m in sandbox.syslog() if "refused" in m][1:] == \
        ["Control file refused: Invalid argument; keeping the one held"]
    assert sandbox.read("/tmp/target") == "exit\n" and sandbox.daemon_pids()
    write_anew(sandbox, "60\n")
    assert sandbox.receive(5) == command("12"), "a plain file again is taken up"


def test_brightness_scale(daemon):
    for text, digits in SCALE:
        request(daemon, text)
        assert daemon.receive(5) == command(digits), "text %r" % text
    assert daemon.line_is_quiet()


def test_a_command_is_sent_when_the_text_changes(daemon):
    request(daemon, "50\n")
    assert daemon.receive(5) == command("0F")
    request(daemon, "50\n")
    assert daemon.line_is_quiet(), "the same text again sends nothing"
    request(daemon, "50")
    assert daemon.receive(5) == command("0F"), "another text, same level"
    request(daemon, "100")
    assert daemon.receive(5) == command("1F")
    request(daemon, "5")
    assert daemon.receive(5) == command("01")
    assert daemon.line_is_quiet()


def test_control_file_is_created_empty_for_everyone(daemon):
    mode = os.stat(daemon.path(CONTROL)).st_mode
    assert stat.S_ISREG(mode) and stat.S_IMODE(mode) == 0o666
    assert daemon.read(CONTROL) == ""
    assert daemon.line_is_quiet(0.3), "nothing is sent before a request"


@pytest.mark.parametrize("text", ["exit", "nexity", "42 and exit\n"])
def test_exit_anywhere_stops_without_sending(daemon, text):
    pid = daemon.daemon_pid()
    request(daemon, text)
    assert daemon.wait_exit(pid) == 0
    assert daemon.line_is_quiet()
    assert daemon.read(CONTROL) == text, "the file keeps its last content"


def test_only_lower_case_exit_in_the_first_511_bytes_stops(daemon):
    request(daemon, "EXIT")
    assert daemon.receive(5) == command("1F")
    request(daemon, "7" + " " * 600 + "exit")
    assert daemon.receive(5) == command("02"), "request taken from the first 511 bytes"
    request(daemon, b"20\0exit")
    assert daemon.receive(5) == command("06"), "text ends at the first NUL"
    assert daemon.line_is_quiet() and daemon.daemon_pids()


def test_file_led_by_nul_is_empty_and_a_later_exit_still_stops(daemon):
    pid = daemon.daemon_pid()
    request(daemon, b"\0" + b"5" * 20)
    assert daemon.line_is_quiet(0.3)
    request(daemon, "exit")
    assert daemon.wait_exit(pid) == 0


def test_stale_exit_does_not_stop_a_new_daemon(sandbox):
    request(sandbox, "exit\n")
    sandbox.start_ready()
    time.sleep(0.2)
    assert sandbox.daemon_pids()


def test_control_file_behind_a_symlink_is_never_touched(sandbox):
    sandbox.write("/tmp/target", "exit\n")
    os.symlink("/tmp/target", sandbox.path(CONTROL))
    assert sandbox.start_daemon().returncode == 0
    priority, _, message = sandbox.wait_syslog("Read failed")
    assert (priority, message) == (LOG_USER_ERR, "Read failed: Too many levels of symbolic links")
    time.sleep(0.2)
    assert sandbox.read("/tmp/target") == "exit\n", "neither emptied nor read"
    assert sandbox.daemon_pids()
    assert len([m for _, _, m in sandbox.syslog() if m.startswith("Read failed")]) == 1


def test_unusable_control_file_is_reported_once(sandbox):
    os.mkdir(sandbox.path(CONTROL))
    assert sandbox.start_daemon().returncode == 0
    assert sandbox.wait_syslog("Read failed")[2] == "Read failed: Is a directory"
    time.sleep(0.3)  # a couple of hundred turns
    assert len([m for _, _, m in sandbox.syslog() if m.startswith("Read failed")]) == 1


def test_request_on_a_dead_line_is_reported_and_exit_still_stops(daemon):
    pid = daemon.daemon_pid()
    daemon.hang_up()
    request(daemon, "60\n")
    priority, _, message = daemon.wait_syslog("Exception")
    assert (priority, stable_text(message)) == (LOG_USER_ERR, "Exception: write: Input/output error")
    wait_for(lambda: "Exception: write: Input/output error\n" in stable_text(daemon.read(LOG_FILE)))
    time.sleep(0.2)
    assert len([m for _, _, m in daemon.syslog() if m.startswith("Exception")]) == 1, \
        "a failing text is not retried"
    request(daemon, "exit")
    assert daemon.wait_exit(pid) == 0
    daemon.wait_syslog("Daemon stopped")
