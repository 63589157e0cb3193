"""From the serial line to the virtual touch device."""
import random
import re
import termios
import time

import pytest

from quorin_sim import STARTUP_COMMAND
from quorin_sim import encode_record as record
from sandbox import LOG_FILE, LOG_USER_ERR, REPORT_BURST, stable_text, wait_for


def send_in_chunks(box, data, rng, largest=64):
    while data:
        size = rng.randint(1, largest)
        box.send(data[:size])
        data = data[size:]
        if rng.random() < 0.1:
            time.sleep(0.002)


def test_line_settings(sandbox):
    attrs = sandbox.line_attributes()
    attrs[2] |= termios.CSTOPB | termios.CRTSCTS
    termios.tcsetattr(sandbox.master, termios.TCSANOW, attrs)
    sandbox.start_ready()
    iflag, oflag, cflag, lflag, ispeed, ospeed, _ = sandbox.line_attributes()
    assert (ispeed, ospeed) == (termios.B9600, termios.B9600)
    assert cflag & termios.CSIZE == termios.CS8
    assert cflag & (termios.CREAD | termios.CLOCAL) == termios.CREAD | termios.CLOCAL
    assert cflag & termios.CSTOPB and cflag & termios.CRTSCTS, "kept as the port had them"
    assert not lflag & (termios.ICANON | termios.ECHO | termios.ISIG | termios.IEXTEN)
    assert not iflag & (termios.IXON | termios.ICRNL | termios.ISTRIP | termios.BRKINT)
    assert not oflag & termios.OPOST

    # A pty drops parity whatever it is asked: check what the daemon asked.
    asked = [dict((k, int(v, 0)) for k, v in re.findall(r"(\w+)=(\w+)", line))
             for line in sandbox.stub_log() if line.startswith("tcsetattr")]
    assert len(asked) == 4, "open, then parity, size and speed each on its own"
    parity, size, speed = asked[1:]
    assert parity["cflag"] & termios.PARENB and not parity["cflag"] & termios.PARODD
    assert parity["iflag"] & termios.INPCK
    assert not parity["iflag"] & (termios.IGNPAR | termios.PARMRK)
    assert size["cflag"] & termios.CSIZE == termios.CS8
    assert speed["speed"] == termios.B9600
    assert all(a["action"] == termios.TCSANOW for a in asked)


MINI_UART_REFUSAL = [
    "Exception: set_option: Invalid argument",
    "Serial line /dev/ttyS0: the port did not keep even parity, which the controller needs "
    "(9600 baud, 8 data bits, even parity): it is a Raspberry Pi's mini UART, which has no "
    "parity; wire the controller to the PL011, /dev/ttyAMA0 (see RASPBERRY PI in man quorinDaemon)"]


@pytest.mark.parametrize("refused", [False, True], ids=["dropped", "refused-by-libc"])
@pytest.mark.parametrize("foreground", [False, True], ids=["detached", "service"])
def test_a_port_that_does_not_keep_parity_is_refused(sandbox, foreground, refused):
    """The driver drops parity and says nothing (the pty does as a mini UART
    does), or the C library turns that into EINVAL: the same refusal."""
    sandbox.fake_port("bcm2835-aux-uart")
    env = {"QUORIN_STUB_REFUSE_PARITY": "1"} if refused else {}
    if foreground:
        process = sandbox.start_foreground(env=env)
        status, stderr = process.wait(10), process.stderr.read()
    else:
        result = sandbox.start_daemon(env=env)
        status, stderr = result.returncode, result.stderr.decode()
    assert status == 1
    assert stable_text(stderr).splitlines() == MINI_UART_REFUSAL
    for line in MINI_UART_REFUSAL:
        priority, _, message = sandbox.wait_syslog(line[:20])
        assert (priority, stable_text(message)) == (LOG_USER_ERR, line)
    assert sandbox.line_is_quiet(), "nothing goes to a controller on a line set up wrong"
    assert not [line for line in sandbox.stub_log() if not line.startswith(("tcsetattr", "fail"))]


def test_device_is_set_up_in_order(daemon):
    log = daemon.stub_log()
    calls = [line for line in log if not line.startswith("tcsetattr")]
    assert calls[0] == "open flags=0x801"  # O_WRONLY | O_NONBLOCK
    assert calls[1:7] == ["ioctl UI_SET_EVBIT 1", "ioctl UI_SET_KEYBIT 330",
                          "ioctl UI_SET_EVBIT 3", "ioctl UI_SET_ABSBIT 0",
                          "ioctl UI_SET_ABSBIT 1", "ioctl UI_SET_EVBIT 0"]
    setup = bytes.fromhex(calls[7].split()[1])
    assert len(setup) == 1116
    assert setup[:80] == b"uinput-touch".ljust(80, b"\0")
    assert setup[80:88] == bytes.fromhex("0300 3412 dcfe 0100")
    absmax = setup[92:92 + 64 * 4]
    expected = bytearray(1116)
    expected[:88] = setup[:88]
    expected[92:100] = bytes.fromhex("ff0f0000 ff0f0000")
    assert setup == bytes(expected), "every other byte is zero"
    assert absmax[:8] == bytes.fromhex("ff0f0000ff0f0000")
    assert calls[8:] == ["ioctl UI_DEV_CREATE"]


STEP_FAILURES = [
    (2, "error: ioctl EV_KEY"), (3, "error: ioctl BTN_TOUCH"), (4, "error: ioctl EV_ABS"),
    (5, "error: ioctl ABS_X"), (6, "error: ioctl ABS_Y"), (7, "error: ioctl EV_SYN"),
    (8, "error: uidev"), (9, "error: UI_DEV_CREATE"),
]


@pytest.mark.parametrize("step,message", STEP_FAILURES)
def test_device_step_failure_ends_the_start(sandbox, step, message):
    result = sandbox.start_daemon(env={"QUORIN_STUB_FAIL": str(step)})
    assert result.returncode == 1
    assert result.stderr.decode() == message + ": Input/output error\n"
    assert sandbox.receive(5) == STARTUP_COMMAND, "the controller was told first"
    assert not sandbox.daemon_pids()


def test_uinput_that_cannot_be_opened(sandbox):
    result = sandbox.start_daemon(env={"QUORIN_STUB_FAIL": "1"})
    assert result.returncode == 1
    assert result.stdout.decode() == (
        "Can't open /dev/uinput. Check if file exists and is writeable. "
        "uinput must be started (modprobe uinput)\n")
    assert sandbox.receive(5) == STARTUP_COMMAND
    assert not sandbox.daemon_pids()


def test_one_record_is_one_report_of_four_writes(daemon):
    daemon.send(record(0x1A3, 0xFFF, True))
    wait_for(lambda: len(daemon.events()) == 4, what="four events")
    assert daemon.events() == [(3, 0, 419), (3, 1, 4095), (1, 330, 1), (0, 0, 0)]
    calls = [line.split("call=")[1].split()[0] for line in daemon.stub_log()
             if line.startswith("event")]
    assert len(set(calls)) == 4, "each event is its own write"
    daemon.send(record(0x1A3, 0xFFF, False))
    assert daemon.wait_touches(2)[1] == (419, 4095, 0)


def test_record_a_byte_at_a_time(daemon):
    for byte in record(10, 20, True):
        daemon.send(bytes([byte]))
        time.sleep(0.003)
    assert daemon.wait_touches(1) == [(10, 20, 1)]


def test_first_read_with_pending_text_is_discarded(daemon):
    daemon.send(record(1, 1, True) + record(2, 2, True))
    time.sleep(0.1)
    daemon.send(record(3, 3, True))
    assert daemon.wait_touches(1) == [(3, 3, 1)]


def test_fast_burst_loses_nothing(daemon):
    sent = [(i % 4096, (i * 13) % 4096, i % 2) for i in range(5000)]
    daemon.sync_decoder().send(b"".join(record(*t) for t in sent))
    assert daemon.wait_touches(len(sent), timeout=60) == sent


def test_noisy_line_in_random_chunks(daemon):
    rng = random.Random(1234)
    sent, line, reports = [], b"", 0
    for _ in range(1500):
        touch = (rng.randrange(4096), rng.randrange(4096), rng.randrange(2))
        data = record(*touch)
        fault = rng.random()
        if fault < 0.03:
            cut = rng.randrange(1, 11)  # the record's ESC stays: it is reported
            data = data[:cut] + data[cut + 1:]
            reports += 1
        elif fault < 0.06:
            data = data[:-1] + b"u"
            reports += 1
        else:
            sent.append(touch)
        line += data
    send_in_chunks(daemon.sync_decoder(), line, rng)
    assert daemon.wait_touches(len(sent), timeout=60) == sent
    time.sleep(0.2)
    assert daemon.touches() == sent, "nothing decoded from a broken record"
    assert 0 < daemon.read(LOG_FILE).count("- bad\n") <= min(reports, REPORT_BURST)


def test_burst_of_garbage_leaves_the_log_file_small(daemon):
    """Each report shows the whole buffer and decoding retries at every
    ESC: 4,000 ESC-heavy bytes once wrote 4.3 MB. The records behind the
    garbage still decode."""
    rng = random.Random(9)
    garbage = bytes(rng.choice(b"\x1b\x1b\x1b0123456789ABCDEF!") for _ in range(4000))
    sent = [(i, 4095 - i, i % 2) for i in range(20)]
    daemon.sync_decoder().send(garbage + b"x" * 10 + b"".join(record(*t) for t in sent))
    wait_for(lambda: daemon.touches()[-len(sent):] == sent, what="the records behind the garbage")
    log = daemon.read(LOG_FILE)
    assert 0 < log.count("- bad\n") <= REPORT_BURST
    assert len(log) < REPORT_BURST * 3000


def test_kilobytes_of_noise_then_a_record(daemon):
    rng = random.Random(5)
    noise = bytes(rng.choice(b"0123456789ABCDEFt !xyz") for _ in range(8000))
    daemon.sync_decoder().send(noise + record(0x123, 0x456, True))
    assert daemon.wait_touches(1) == [(0x123, 0x456, 1)]


def test_refused_event_write_ends_the_daemon(sandbox):
    sandbox.start_ready(env={"QUORIN_STUB_FAIL": "11"})  # second write of the first report
    pid = sandbox.daemon_pid()
    sandbox.send(record(5, 6, True))
    assert sandbox.wait_exit(pid) == 1
    assert "error: write: Input/output error\n" in sandbox.read(LOG_FILE)
    assert sandbox.events() == [(3, 0, 5)], "the rest of the report is not written"


def test_failing_line_is_reported_once(daemon):
    daemon.send(record(7, 8, True))
    daemon.wait_touches(1)
    daemon.hang_up()
    priority, _, message = daemon.wait_syslog("Serial read failed")
    # Closing a pty's master marks the other end closed (EIO) before it
    # hangs it up (end of file): a read between the two gets the first.
    assert priority == LOG_USER_ERR
    assert message in ("Serial read failed: End of file", "Serial read failed: Input/output error")
    time.sleep(0.3)
    assert len([m for _, _, m in daemon.syslog() if "Serial read failed" in m]) == 1
    assert daemon.daemon_pids(), "the daemon runs on"
