#!/usr/bin/python3
"""quorin-sim: the touch-panel controller's side of quorinDaemon's serial
line, for bench work without a panel.

It sends touch records (taps, drags, random touches or a file of records,
optionally with line noise) and prints every command the daemon sends
back, decoded. The line is a new pty (its path is printed, to be bound or
linked as the daemon's /dev/ttyS0), a serial device, or a unix stream
socket such as a virtual machine's serial port.

The functions above main() are a library: the system tests and the demo
import them to speak the controller's side of the line themselves.
"""
import argparse
import os
import random
import select
import socket
import sys
import termios
import time
import tty

ESC = b"\x1b"
FILLER = b"!"
RECORD_END = b"t"
RECORD_LENGTH = 11
COMMAND_LENGTH = 5
MAX_POSITION = 4095
STARTUP_COMMAND = b"\x1b@s\x00\x00"
MAX_LEVEL = 31
HEX_DIGITS = b"0123456789ABCDEF"

# The daemon throws away everything it holds the first time its buffer has
# 17 characters and a record-length tail behind an ESC. Sending that up
# front, then pausing, lets every later burst of records be decoded. The
# ESC sits so that its tail is complete only once all 17 characters are in:
# however the line splits them, no part is ever taken for a broken record.
SYNC_PREAMBLE = FILLER * 6 + ESC + FILLER * 10
SYNC_PAUSE = 0.1

# Eleven characters take 11.5 ms at 9600 baud with a parity bit.
DEFAULT_INTERVAL = 0.02


# --- records, controller to daemon -----------------------------------------

def encode_record(x, y, touched):
    """The 11 bytes of one touch record: ESC, filler, X and Y as three
    upper-case hex digits each, '0' when touched ('1' when not), filler, 't'."""
    for name, value in (("x", x), ("y", y)):
        if not 0 <= value <= MAX_POSITION:
            raise ValueError("%s=%d is outside 0..%d" % (name, value, MAX_POSITION))
    return b"%s%s%03X%03X%s%s%s" % (ESC, FILLER, x, y, b"0" if touched else b"1", FILLER,
                                    RECORD_END)


def encode_samples(samples):
    return [encode_record(x, y, touched) for x, y, touched in samples]


# --- gestures: lists of (x, y, touched) samples ------------------------------

def tap(x, y):
    """Finger down and up at one spot."""
    return [(x, y, True), (x, y, False)]


def drag(x1, y1, x2, y2, steps=10):
    """`steps` touched samples evenly from (x1, y1) to (x2, y2), both ends
    included, then the release at (x2, y2)."""
    if steps < 2:
        raise ValueError("a drag needs at least 2 steps")
    samples = []
    for i in range(steps):
        x = x1 + (x2 - x1) * i / (steps - 1)
        y = y1 + (y2 - y1) * i / (steps - 1)
        samples.append((round(x), round(y), True))
    samples.append((x2, y2, False))
    return samples


def random_touches(count, seed=None):
    """`count` taps at random spots; the same seed gives the same taps."""
    rng = random.Random(seed)
    samples = []
    for _ in range(count):
        samples += tap(rng.randint(0, MAX_POSITION), rng.randint(0, MAX_POSITION))
    return samples


# --- line noise ---------------------------------------------------------------

def corrupt_record(record, rng):
    """A record as a bad line delivers it: either its last character is
    wrong, or one of its characters is lost."""
    if rng.random() < 0.5:
        wrong = rng.choice([c for c in b"!0123456789ABCDEFx" if c != RECORD_END[0]])
        return record[:-1] + bytes([wrong])
    lost = rng.randrange(len(record))
    return record[:lost] + record[lost + 1:]


def stray_bytes(rng, most=3):
    """1 to `most` random bytes, never ESC (which would open a record) nor
    NUL (which the line uses for a character with a parity error)."""
    pool = [b for b in range(1, 256) if b != ESC[0]]
    return bytes(rng.choice(pool) for _ in range(rng.randint(1, most)))


def add_noise(records, fraction, rng, stray=None):
    """Returns [(bytes, intact)] for the records in order: round(fraction *
    len(records)) of them, chosen at random, are corrupted (intact False),
    and each gap before a record gets stray bytes with probability `stray`
    (default: `fraction`)."""
    if not 0 <= fraction <= 1:
        raise ValueError("the noise fraction must lie in 0..1")
    stray = fraction if stray is None else stray
    broken = set(rng.sample(range(len(records)), round(fraction * len(records))))
    noisy = []
    for index, record in enumerate(records):
        prefix = stray_bytes(rng) if rng.random() < stray else b""
        if index in broken:
            noisy.append((prefix + corrupt_record(record, rng), False))
        else:
            noisy.append((prefix + record, True))
    return noisy


# --- commands, daemon to controller -------------------------------------------

def brightness_level(percent):
    """The level the daemon sends for a request of 0..100 percent."""
    return MAX_LEVEL * percent // 100


def brightness_command(level):
    return b"\x1b@%c%ci" % (HEX_DIGITS[level // 16], HEX_DIGITS[level % 16])


def _brightness_level_of(command):
    if (len(command) != COMMAND_LENGTH or command[:2] != b"\x1b@" or command[4:] != b"i"
            or command[2] not in b"01" or command[3] not in HEX_DIGITS):
        return None
    return int(command[2:4], 16)


def describe_command(command):
    """'start-up', 'brightness level 15 (0F)', or what else the bytes are."""
    if command == STARTUP_COMMAND:
        return "start-up"
    level = _brightness_level_of(command)
    if level is not None:
        return "brightness level %d (%02X)" % (level, level)
    if not command.startswith(ESC):
        return "stray bytes " + command.hex(" ")
    return "unknown command " + command.hex(" ")


class CommandReader:
    """Cuts the bytes the daemon writes into 5-byte commands, however they
    are split into reads. Bytes in front of an ESC come out on their own, so
    that garbage shows up instead of shifting every later command."""

    def __init__(self):
        self.pending = b""

    def feed(self, data):
        self.pending += data
        pieces = []
        while self.pending:
            start = self.pending.find(ESC)
            if start != 0:
                stray = self.pending if start < 0 else self.pending[:start]
                pieces.append(stray)
                self.pending = self.pending[len(stray):]
            elif len(self.pending) >= COMMAND_LENGTH:
                pieces.append(self.pending[:COMMAND_LENGTH])
                self.pending = self.pending[COMMAND_LENGTH:]
            else:
                break
        return pieces


# --- record files --------------------------------------------------------------

RECORD_FILE_FORMAT = """\
record file: one step per line, '#' starts a comment, blank lines are skipped
  down X Y     a touched sample at X, Y (0..4095, decimal or 0x hex)
  up X Y       a sample that is not touched (the finger lifted) at X, Y
  pause S      wait S seconds before the next line
"""


def parse_record_file(text):
    """[(bytes, pause_before)] for the records of a record file."""
    steps, pause = [], 0.0
    for number, line in enumerate(text.splitlines(), 1):
        words = line.split("#", 1)[0].split()
        try:
            if not words:
                continue
            if words[0] == "pause" and len(words) == 2:
                pause += float(words[1])
            elif words[0] in ("down", "up") and len(words) == 3:
                x, y = (int(w, 0) for w in words[1:])
                steps.append((encode_record(x, y, words[0] == "down"), pause))
                pause = 0.0
            else:
                raise ValueError("expected 'down X Y', 'up X Y' or 'pause S'")
        except ValueError as error:
            raise ValueError("line %d: %r: %s" % (number, line.strip(), error)) from None
    return steps


# --- the line --------------------------------------------------------------------

def make_line_raw(fd):
    """Raw, 9600 baud, 8 data bits, even parity: what the daemon sets."""
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[2] = (attrs[2] & ~(termios.CSIZE | termios.PARODD)) | termios.CS8 | termios.PARENB \
        | termios.CREAD | termios.CLOCAL
    attrs[4] = attrs[5] = termios.B9600
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


class Line:
    """One end of the serial line as a descriptor to read and write."""

    def __init__(self, fd, keep=()):
        self.fd = fd
        self.keep = list(keep)

    @classmethod
    def new_pty(cls):
        master, slave = os.openpty()
        make_line_raw(slave)
        line = cls(master, keep=[slave])  # an open slave keeps reads of the master from EIO
        line.path = os.ttyname(slave)
        return line

    @classmethod
    def device(cls, path):
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        if os.isatty(fd):
            make_line_raw(fd)
        return cls(fd)

    @classmethod
    def unix_socket(cls, path):
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.connect(path)
        return cls(sock.detach())

    def read(self, timeout):
        """Bytes that arrived within `timeout` seconds; b'' if none; None at
        the end of the line."""
        if not select.select([self.fd], [], [], max(timeout, 0))[0]:
            return b""
        try:
            return os.read(self.fd, 4096) or None
        except OSError:
            return None

    def write(self, data):
        view = memoryview(data)
        while view:
            select.select([], [self.fd], [])
            view = view[os.write(self.fd, view):]

    def close(self):
        for fd in [self.fd] + self.keep:
            os.close(fd)


class Controller:
    """Plays records on a line while printing what the daemon sends."""

    def __init__(self, line, out=sys.stdout):
        self.line = line
        self.out = out
        self.reader = CommandReader()
        self.seen_startup = False
        self.ended = False

    def listen(self, seconds):
        """Prints the daemon's commands for up to `seconds` (None: until the
        line ends)."""
        deadline = None if seconds is None else time.monotonic() + seconds
        while not self.ended:
            left = 1.0 if deadline is None else deadline - time.monotonic()
            if left <= 0:
                return
            data = self.line.read(left)
            if data is None:
                self.ended = True
                return
            for piece in self.reader.feed(data):
                self.seen_startup |= piece == STARTUP_COMMAND
                print("%-28s [%s]" % (describe_command(piece), piece.hex(" ")), file=self.out,
                      flush=True)

    def wait_for_startup(self):
        while not self.seen_startup and not self.ended:
            self.listen(0.5)

    def play(self, steps):
        """Sends [(bytes, pause_before)] in order, listening meanwhile."""
        for data, pause in steps:
            self.listen(pause)
            self.line.write(data)


def playback_steps(args):
    if args.file:
        with open(args.file) as f:
            steps = parse_record_file(f.read())
        records = [data for data, _ in steps]
        pauses = [pause + args.interval for _, pause in steps]
    else:
        records = encode_samples(gesture_samples(args))
        pauses = [args.interval] * len(records)
    if args.noise:
        records = [data for data, _ in add_noise(records, args.noise, random.Random(args.seed))]
    steps = list(zip(records, pauses))
    if steps and not args.no_preamble:
        steps = [(SYNC_PREAMBLE, 0.0)] + [(d, p + SYNC_PAUSE * (i == 0))
                                          for i, (d, p) in enumerate(steps)]
    return steps


def gesture_samples(args):
    action, numbers = (args.action[0], args.action[1:]) if args.action else (None, [])
    wanted = {"tap": 2, "drag": 4, "random": 1, None: 0}
    if action not in wanted or len(numbers) != wanted[action]:
        raise ValueError("expected 'tap X Y', 'drag X1 Y1 X2 Y2' or 'random N'")
    values = [int(n, 0) for n in numbers]
    if action == "tap":
        return tap(*values)
    if action == "drag":
        return drag(*values, steps=args.steps)
    if action == "random":
        return random_touches(values[0], args.seed)
    return []


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="quorin-sim", formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Plays the touch controller on quorinDaemon's serial line: sends touch "
                    "records and prints every command the daemon sends, decoded.",
        epilog=RECORD_FILE_FORMAT + """
Without --device or --connect-unix a new pty is made and its path printed
on the first line of output; bind it over /dev/ttyS0 for the daemon, for
example in a private mount namespace:
  unshare --mount --propagation private sh -c \\
      'mount --bind /dev/pts/N /dev/ttyS0 && exec quorinDaemon'

Records are sent once the daemon's start-up command has arrived (unless
--no-wait), after a preamble that the daemon's start-up discard swallows
(unless --no-preamble). Then commands are printed until --linger runs out
or the line ends (Ctrl-C stops it).

examples:
  quorin-sim tap 2048 2048
  quorin-sim --steps 20 drag 0 0 4095 4095
  quorin-sim --noise 0.1 --seed 7 random 50
  quorin-sim --device /dev/ttyUSB0 --file taps.rec
  quorin-sim --connect-unix /tmp/guest-serial.sock tap 100 200""")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--device", metavar="PATH", help="use this serial device")
    where.add_argument("--connect-unix", metavar="PATH",
                       help="connect to this unix stream socket (a VM's serial port)")
    parser.add_argument("--file", metavar="FILE", help="play a record file (format below)")
    parser.add_argument("--interval", type=float, default=DEFAULT_INTERVAL, metavar="SECONDS",
                        help="pause before each record (default %(default)s)")
    parser.add_argument("--steps", type=int, default=10, help="samples of a drag (default 10)")
    parser.add_argument("--seed", type=int, help="seed for random touches and noise")
    parser.add_argument("--noise", type=float, default=0.0, metavar="FRACTION",
                        help="corrupt this fraction of the records (wrong last character or "
                             "a lost one) and put stray bytes before as many")
    parser.add_argument("--no-wait", action="store_true",
                        help="play at once instead of after the start-up command")
    parser.add_argument("--no-preamble", action="store_true",
                        help="do not send the preamble before the records")
    parser.add_argument("--linger", type=float, metavar="SECONDS",
                        help="after playing, print commands this long, then exit "
                             "(default: until the line ends)")
    parser.add_argument("action", nargs="*",
                        help="tap X Y | drag X1 Y1 X2 Y2 | random N (none: only listen)")
    args = parser.parse_args(argv)
    if args.file and args.action:
        parser.error("give either --file or an action")
    try:
        args.steps_to_play = playback_steps(args)
    except (ValueError, OSError) as error:
        parser.error(str(error))
    return args


def open_line(args):
    if args.device:
        return Line.device(args.device)
    if args.connect_unix:
        return Line.unix_socket(args.connect_unix)
    line = Line.new_pty()
    print(line.path, flush=True)
    return line


def main(argv=None):
    args = parse_arguments(sys.argv[1:] if argv is None else argv)
    try:
        line = open_line(args)
    except OSError as error:
        print("quorin-sim: %s" % error, file=sys.stderr)
        return 1
    controller = Controller(line)
    try:
        if args.steps_to_play:
            if not args.no_wait:
                controller.wait_for_startup()
            if not controller.ended:
                controller.play(args.steps_to_play)
        controller.listen(args.linger)
    except KeyboardInterrupt:
        pass
    finally:
        line.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
