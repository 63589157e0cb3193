"""Shows the daemon doing its job for real, without a panel.

Where this host has a usable /dev/uinput, the daemon runs in the test
sandbox (a pty as its /dev/ttyS0, private /tmp and system log) with the
host's real /dev/uinput; otherwise it runs in a qemu guest on Debian's
kernel. Either way the simulated controller plays two taps and a drag and
asks for a few brightness levels, and an evdev reader of the real
"uinput-touch" device shows what arrived. Nothing of this host's
/dev/ttyS0, /tmp/backlight, log file or system log is touched.

    /usr/bin/python3 tools/demo.py [BUILD_DIR]     (default build-vm: a
    tree configured with -DQUORIN_STATIC=ON; scripts/demo builds it)
"""
import os
import re
import select
import subprocess
import sys
import time

PROJECT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD_DIR = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(PROJECT, "build-vm"))
os.environ["QUORIN_BUILD_DIR"] = BUILD_DIR
sys.path[:0] = [os.path.join(PROJECT, "tools"), os.path.join(PROJECT, "tests", "vm"),
                os.path.join(PROJECT, "tests", "system")]
import quorin_sim as sim  # noqa: E402
import guest_kernel  # noqa: E402
from guest import SYNC_PREAMBLE, Guest, missing_tools  # noqa: E402

READER = os.path.join(BUILD_DIR, "tests", "vm", "evdev_reader")
GESTURE = sim.tap(800, 600) + sim.tap(3300, 900) + sim.drag(500, 3300, 3500, 2300, steps=8)
REQUESTS = ("10", "50", "100")
PICTURE_WIDTH, PICTURE_HEIGHT = 48, 12


def uinput_usable():
    try:
        os.close(os.open("/dev/uinput", os.O_WRONLY | os.O_NONBLOCK))
        return True
    except OSError:
        return False


class InGuest:
    """The daemon in a qemu guest; the reader runs there too."""

    where = "the guest's"

    def __init__(self):
        accel = "KVM" if os.environ.get("QUORIN_VM_KVM") == "1" else "TCG"
        print("Booting Debian's kernel in qemu (%s; the kernel is fetched once into %s) ..."
              % (accel, guest_kernel.cache_root()), flush=True)
        self.guest = Guest(BUILD_DIR)
        print("guest Linux %s up in %.1f s" % (self.guest.abi, self.guest.boot_seconds))

    def start(self):
        mark = len(self.guest.uart_settings())
        status = self.guest.start_daemon()
        startup = self.guest.receive(5)
        baud, parity, bits, stop = self.guest.uart_settings()[mark:][-1]
        line = "the guest's 16550 UART (ttyS0) at %d baud, parity %s, %d data bits, %d stop bit" \
            % (baud, {"E": "even", "O": "odd", "N": "none"}.get(parity, parity), bits, stop)
        return status, startup, line

    def describe(self):
        return self.guest.check("evdev_reader describe")

    def watch(self):
        self.guest.watch_touches()

    def sync(self):
        self.guest.sync_line()

    def send(self, data):
        self.guest.send(data)

    def reader_lines(self, count):
        self.guest.wait_reports(count)
        return self.guest.reader_output()[1:]

    def request(self, text):
        self.guest.write("/tmp/backlight", text)
        return self.guest.receive(5)

    def stop(self):
        self.guest.write("/tmp/backlight", "exit\n")
        self.guest.wait_shell("! pidof quorinDaemon", what="the daemon to end")
        logged = "Daemon stopped" in self.guest.syslog()
        gone = "uinput-touch" not in self.guest.read("/proc/bus/input/devices")
        return logged, gone

    def close(self):
        self.guest.close()


class OnHost:
    """The daemon in the test sandbox with this host's real /dev/uinput;
    the reader runs on the host, where the device appears."""

    where = "the sandbox's"

    def __init__(self):
        from sandbox import Sandbox
        print("This host has /dev/uinput: the daemon runs in a private sandbox with a pty as "
              "its serial line.")
        self.box = Sandbox()
        rdev = os.stat("/dev/uinput").st_rdev
        os.mknod(self.box.path("/dev/uinput"), 0o20600, rdev)
        self.watcher = None

    def start(self):
        result = self.box.start_daemon(preload=False)
        if result.returncode != 0:
            raise SystemExit("the daemon did not start: %s" % result.stdout.decode())
        startup = self.box.receive(5)
        self.box.wait_syslog("Daemon started")
        return result.returncode, startup, "a pty standing in for /dev/ttyS0"

    def describe(self):
        return subprocess.run([READER, "describe"], capture_output=True, text=True,
                              check=True).stdout

    def watch(self):
        self.watcher = subprocess.Popen([READER, "watch"], stdout=subprocess.PIPE)
        self.lines, self.pending = [], b""
        self._read_until(lambda: self.lines)

    def _read_until(self, enough, timeout=10):
        deadline = time.monotonic() + timeout
        while not enough():
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.watcher.stdout], [], [], left)[0]:
                raise SystemExit("the reader saw too little:\n" + "\n".join(self.lines))
            data = os.read(self.watcher.stdout.fileno(), 65536)
            if not data:
                raise SystemExit("the reader ended:\n" + "\n".join(self.lines))
            self.pending += data
            *complete, self.pending = self.pending.split(b"\n")
            self.lines += [line.decode() for line in complete]

    def sync(self):
        io = "/proc/%d/io" % self.box.daemon_pid()
        before = int(re.search(r"rchar: (\d+)", self.box.read(io))[1])
        self.box.send(SYNC_PREAMBLE)
        while int(re.search(r"rchar: (\d+)", self.box.read(io))[1]) < before + len(SYNC_PREAMBLE):
            time.sleep(0.01)

    def send(self, data):
        self.box.send(data)

    def reader_lines(self, count):
        self._read_until(lambda: sum(line.startswith("report") for line in self.lines) >= count)
        return self.lines[1:]

    def request(self, text):
        self.box.write("/tmp/backlight", text)
        return self.box.receive(5)

    def stop(self):
        self.box.stop_daemon()
        logged = bool(self.box.wait_syslog("Daemon stopped"))
        self._read_until(lambda: self.lines[-1] == "gone")
        return logged, True

    def close(self):
        if self.watcher:
            self.watcher.kill()
            self.watcher.wait()
        self.box.close()


# --- what the reader saw, for people --------------------------------------------

def device_summary(describe):
    fields = dict(line.split(" ", 1) for line in describe.splitlines())
    ident = dict(item.split("=") for item in fields["id"].split())
    keys = ", ".join("BTN_TOUCH" if key == "330" else key for key in fields["keys"].split())
    axes = [line.split() for line in describe.splitlines() if line.startswith("abs ")]
    ranges = ", ".join("%s %s..%s" % ({"0": "ABS_X", "1": "ABS_Y"}.get(a[1], a[1]),
                                      a[2].split("=")[1], a[3].split("=")[1]) for a in axes)
    return ('device "%s": bus %s, vendor %s, product %s, version %s; keys: %s; axes: %s'
            % (fields["name"], ident["bus"], ident["vendor"].upper(), ident["product"].upper(),
               ident["version"], keys, ranges))


REPORT = re.compile(r"report x=(\d+) y=(\d+) touch=(\d) events=(\w*)")


def event_line(match):
    x, y, touch, carried = match.groups()
    events = ["%s=%s" % (name, value) for letter, name, value in (
        ("x", "ABS_X", x), ("y", "ABS_Y", y), ("t", "BTN_TOUCH", touch)) if letter in carried]
    what = "down" if touch == "1" and "t" in carried else "up" if "t" in carried else "move"
    return "  %-5s (%4s, %4s)   %s SYN_REPORT" % (what, x, y, " ".join(events))


def picture(matches):
    """The finger's trail on a small grid, one digit per stroke."""
    grid = [[" "] * PICTURE_WIDTH for _ in range(PICTURE_HEIGHT)]
    stroke, last = 0, None
    for x, y, touch, carried in (m.groups() for m in matches):
        if touch != "1":
            last = None
            continue
        stroke += "t" in carried
        cell = (int(x) * (PICTURE_WIDTH - 1) // 4095, int(y) * (PICTURE_HEIGHT - 1) // 4095)
        start = last or cell
        steps = max(abs(cell[0] - start[0]), abs(cell[1] - start[1]), 1)
        for i in range(steps + 1):
            column = start[0] + round((cell[0] - start[0]) * i / steps)
            row = start[1] + round((cell[1] - start[1]) * i / steps)
            grid[row][column] = str(stroke % 10)
        last = cell
    border = "  +" + "-" * PICTURE_WIDTH + "+"
    return [border] + ["  |" + "".join(row) + "|" for row in grid] + [border]


def show(stage):
    status, startup, line = stage.start()
    print("daemon started (exit status %d), serial line: %s" % (status, line))
    print("first bytes on the line: %s (%s command)" % (startup.hex(" ").upper(),
                                                        sim.describe_command(startup)))
    print(device_summary(stage.describe()))
    stage.watch()
    stage.sync()
    print("\nthe controller taps twice and drags; a reader of uinput-touch sees "
          "(the kernel passes on only changed values):")
    for record in sim.encode_samples(GESTURE):
        stage.send(record)
        time.sleep(0.02)  # about a real controller's pace
    lines = stage.reader_lines(len(GESTURE))
    matches = [m for m in map(REPORT.match, lines) if m]
    for line in lines:
        match = REPORT.match(line)
        print(event_line(match) if match else "  " + line)
    print("\nwhere the finger was (x 0..4095 to the right, y 0..4095 down; 1, 2: taps, 3: drag):")
    print("\n".join(picture(matches)))
    print("\nbrightness requests written into %s /tmp/backlight:" % stage.where)
    for text in REQUESTS:
        command = stage.request(text + "\n")
        print("  %3s%%  ->  line: %s  =  %s" % (text, command.hex(" ").upper(),
                                                sim.describe_command(command)))
    logged, gone = stage.stop()
    print('\n"exit" written: the daemon stopped%s; uinput-touch %s'
          % (' ("Daemon stopped" in its system log)' if logged else " (NOT logged)",
             "is gone" if gone else "is STILL THERE"))
    return 0 if logged and gone and len(matches) == len(GESTURE) else 1


def main():
    if uinput_usable():
        stage = OnHost()
    else:
        missing = missing_tools()
        if missing:
            raise SystemExit("no /dev/uinput here and no qemu guest either (%s missing: "
                             "scripts/install-deps vm)" % ", ".join(missing))
        print("No usable /dev/uinput on this host.", end=" ")
        stage = InGuest()
    try:
        return show(stage)
    finally:
        stage.close()


if __name__ == "__main__":
    sys.exit(main())
