"""The sandbox every system test runs the real daemon in.

A private PID and mount namespace (see sandbox_init.py) with its own /tmp
and /dev: the test holds the controller's end of the pty that stands in
for /dev/ttyS0 and reads the system log from its own socket at /dev/log.
The daemon is preloaded with the uinput stand-in, whose record of every
call lands in the sandbox's /tmp. Nothing of the host's /dev/ttyS0, /tmp
or system log is touched.
"""
import os
import re
import select
import signal
import socket
import subprocess
import sys
import termios
import time

BUILD_DIR = os.path.abspath(os.environ.get("QUORIN_BUILD_DIR", "build"))
DAEMON = os.path.join(BUILD_DIR, "quorinDaemon")
STUB = os.path.join(BUILD_DIR, "tests", "stub", "libquorin_uinput_stub.so")
HERE = os.path.dirname(os.path.abspath(__file__))
PROJECT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(PROJECT, "tools"))
from quorin_sim import STARTUP_COMMAND, SYNC_PAUSE, SYNC_PREAMBLE  # noqa: E402

LOG_FILE = "/tmp/quorin.daemon.out"
STUB_LOG = "/tmp/uinput.log"
NOTIFY_SOCKET = "/tmp/notify"
SANITIZER_LOG = "/tmp/sanitizer"
SEPARATOR = "=" * 79 + "\n"
REPORT_BURST = 5  # bad-record reports that go out at once, before the limit holds them back
LOG_USER_ERR, LOG_USER_NOTICE, LOG_USER_INFO = 11, 13, 14
SYSLOG_LINE = re.compile(r"<(\d+)>\w{3} [ \d]\d \d\d:\d\d:\d\d ([^:\[]+)(?:\[\d+\])?: (.*)", re.S)


# Newer Boost releases append where an error was raised to the text of a
# system_error (" [system:2 at /usr/include/boost/...:61 in function
# 'open']") and the category and value to other errors' (" [generic:11]").
# The daemon prints the text as the library gives it; tests compare the
# part every release has.
BOOST_ERROR_SUFFIX = re.compile(r" \[\w+:-?\d+(?: at [^\]\n]*)?\]$", re.M)


def stable_text(text):
    """The text without the suffixes newer Boost releases append."""
    return BOOST_ERROR_SUFFIX.sub("", text)


def wait_for(condition, timeout=5.0, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.005)


def sanitizer_env():
    common = "halt_on_error=1:log_path=" + SANITIZER_LOG
    return {
        "ASAN_OPTIONS": common + ":verify_asan_link_order=0:detect_leaks=1",
        "UBSAN_OPTIONS": common + ":print_stacktrace=1",
        "TSAN_OPTIONS": common,
    }


DRM = "/sys/class/drm"


class Sandbox:
    def __init__(self, screens=None):
        """`screens`: connector name to its dpms text ("On", "Off"), each
        one connected, in the sandbox's own /sys/class/drm."""
        ours, theirs = socket.socketpair()
        keep = [d for d in (BUILD_DIR, PROJECT) if d.startswith("/tmp/")]
        self.process = subprocess.Popen(
            ["unshare", "--mount", "--pid", "--fork", "--mount-proc", "--propagation", "private",
             "/usr/bin/python3", os.path.join(HERE, "sandbox_init.py"), str(theirs.fileno()), *keep],
            pass_fds=[theirs.fileno()])
        theirs.close()
        self.control = ours
        _, fds, _, _ = socket.recv_fds(ours, 16, 3)
        self.master, self.slave, log_fd = fds
        self.log = socket.socket(fileno=log_fd)
        self.init_pid = self._init_pid()
        self.root = "/proc/%d/root" % self.init_pid
        self.exits = {}
        self.exit_text = ""
        self.received = b""
        self.syslog_seen = []
        # What else the directory holds: a card and its driver's version.
        os.makedirs(self.path(DRM + "/card0"))
        self.write(DRM + "/version", "drm 1.1.0 20060810\n")
        for name, dpms in (screens or {}).items():
            self.set_screen(name, dpms)

    def _init_pid(self):
        children = "/proc/%d/task/%d/children" % (self.process.pid, self.process.pid)
        return int(wait_for(lambda: open(children).read().split(), what="sandbox init")[0])

    # --- files and processes inside -------------------------------------

    def path(self, inside):
        return self.root + inside

    def read(self, inside, mode="r"):
        with open(self.path(inside), mode) as f:
            return f.read()

    def write(self, inside, data, mode="w"):
        with open(self.path(inside), mode) as f:
            f.write(data)

    def run(self, argv, env=None, timeout=20, pass_fds=()):
        full_env = dict(os.environ, **sanitizer_env(), **(env or {}))
        return subprocess.run(["/usr/bin/nsenter", "-t", str(self.init_pid), "-m", "-p", "--", *argv],
                              env=full_env, capture_output=True, timeout=timeout, pass_fds=pass_fds)

    def spawn(self, argv, env=None, blocked=()):
        """Starts a program inside without waiting; its output is a pipe of
        text. It inherits the signals `blocked` blocked, through exec."""
        full_env = dict(os.environ, **sanitizer_env(), **(env or {}))
        block = (lambda: signal.pthread_sigmask(signal.SIG_BLOCK, blocked)) if blocked else None
        return subprocess.Popen(["/usr/bin/nsenter", "-t", str(self.init_pid), "-m", "-p", "--", *argv],
                                env=full_env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                preexec_fn=block)

    def start_daemon(self, env=None, preload=True, shell=None, pass_fds=()):
        """Starts the daemon; `shell` is a sh script that starts it as "$0"."""
        stub = {"LD_PRELOAD": STUB, "QUORIN_STUB_LOG": STUB_LOG} if preload else {}
        argv = ["sh", "-c", shell, DAEMON] if shell else [DAEMON]
        return self.run(argv, env=dict(stub, **(env or {})), pass_fds=pass_fds)

    def listen_for_notifications(self):
        """NOTIFY_SOCKET for a daemon's environment; what is sent there is
        read by notification() and notifications()."""
        if not hasattr(self, "notify"):
            self.notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            self.notify.bind(self.path(NOTIFY_SOCKET))
        return {"NOTIFY_SOCKET": NOTIFY_SOCKET}

    def start_foreground(self, *arguments, env=None, blocked=()):
        """Starts the daemon as a service manager does; returns the running
        process, whose status is the daemon's own."""
        stub = dict(self.listen_for_notifications(), LD_PRELOAD=STUB, QUORIN_STUB_LOG=STUB_LOG)
        return self.spawn([DAEMON, "--foreground", *arguments], env=dict(stub, **(env or {})),
                          blocked=blocked)

    def notification(self, prefix="", timeout=5):
        """The next message the daemon sent the service manager that starts
        with `prefix`; the others before it are passed over."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            assert left > 0 and select.select([self.notify], [], [], left)[0], \
                "no notification starting %r" % prefix
            message = self.notify.recv(4096).decode()
            if message.startswith(prefix):
                return message

    def notifications(self, seconds):
        """Every message the daemon sends the service manager in this time."""
        deadline, messages = time.monotonic() + seconds, []
        while select.select([self.notify], [], [], max(0, deadline - time.monotonic()))[0]:
            messages.append(self.notify.recv(4096).decode())
        return messages

    def next_pid(self, pid):
        """The next process started inside gets this pid, if it is free."""
        self.run(["sh", "-c", "echo %d > /proc/sys/kernel/ns_last_pid" % (pid - 1)])

    def start_ready(self, env=None, shell=None):
        """Starts the daemon and returns once it polls the control file."""
        result = self.start_daemon(env, shell=shell)
        assert result.returncode == 0, result
        assert self.receive(5) == STARTUP_COMMAND
        self.wait_syslog("Daemon started")
        wait_for(self._control_file_emptied, what="the control file to be emptied")
        self.wait_forks_gone()
        return result

    def start_in_mode(self, mode):
        """A daemon ready in either mode: "plain" as started by hand,
        "service" with --foreground; returns the service's process."""
        if mode == "plain":
            self.start_ready()
            return None
        process = self.start_foreground()
        assert self.receive(5) == STARTUP_COMMAND
        assert self.notification("READY") == "READY=1"
        return process

    def wait_forks_gone(self):
        """The pid of the one daemon left once the forks' parents are gone.
        Until gone and reaped they would count as running instances; under
        ASan a parent's exit runs the leak check first."""
        wait_for(lambda: len(self.daemon_pids()) == 1 and not self.processes(zombies=True),
                 what="the forks to be gone and reaped")
        return self.daemon_pids()[0]

    def _control_file_emptied(self):
        try:
            return os.stat(self.path("/tmp/backlight")).st_size == 0
        except FileNotFoundError:
            return False

    def processes(self, zombies=False):
        """(pid, command name) of every live process, or of every zombie."""
        found = []
        for entry in os.listdir(self.path("/proc")):
            try:
                stat = self.read("/proc/%s/stat" % entry)
            except (OSError, ValueError):
                continue
            name, state = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2]
            if (state == "Z") == zombies:
                found.append((int(entry), name))
        return found

    def daemon_pids(self):
        return [pid for pid, comm in self.processes() if comm == "quorinDaemon"]

    def daemon_pid(self, timeout=5):
        return wait_for(self.daemon_pids, timeout, "a running daemon")[0]

    def wait_exit(self, pid, timeout=10):
        def ended():
            self._collect_exits(0.01)
            return pid in self.exits
        wait_for(ended, timeout, "process %d to end" % pid)
        return self.exits[pid]

    def wait_exit_status(self, status, timeout=10):
        """Waits until some process of the sandbox ends with this status."""
        def ended():
            self._collect_exits(0.01)
            return status in self.exits.values()
        return wait_for(ended, timeout, "a process to end with status %d" % status)

    def _collect_exits(self, timeout):
        if select.select([self.control], [], [], timeout)[0]:
            self.exit_text += self.control.recv(65536).decode()
            *lines, self.exit_text = self.exit_text.split("\n")
            for line in lines:
                _, pid, status = line.split()
                self.exits[int(pid)] = int(status)

    def stop_daemon(self, timeout=10):
        pid = self.daemon_pid()
        self.write("/tmp/backlight", "exit\n")
        return self.wait_exit(pid, timeout)

    def set_screen(self, name, dpms="On", enabled=None, status="connected"):
        """Makes a connector, or changes it as a display server would; its
        `enabled` follows dpms unless given."""
        os.makedirs(self.path("%s/%s" % (DRM, name)), exist_ok=True)
        # dpms last: the screen is back once it says so.
        for attribute, text in (("status", status),
                                ("enabled", enabled or ("enabled" if dpms == "On" else "disabled")),
                                ("dpms", dpms)):
            self.write("%s/%s/%s" % (DRM, name, attribute), text + "\n")

    # --- the controller's end of the serial line -------------------------

    def send(self, data):
        view = memoryview(data)
        while view:
            select.select([], [self.master], [], 5)
            view = view[os.write(self.master, view):]

    def receive(self, count, timeout=5):
        """The next `count` bytes the daemon wrote to the line."""
        deadline = time.monotonic() + timeout
        while len(self.received) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                raise AssertionError("line got %r, waited for %d bytes" % (self.received, count))
            self.received += os.read(self.master, 4096)
        data, self.received = self.received[:count], self.received[count:]
        return data

    def line_is_quiet(self, seconds=0.2):
        return not select.select([self.master], [], [], seconds)[0] and not self.received

    def sync_decoder(self):
        """Gets the daemon past its one-time start-up discard, so that
        records sent together from now on are all decoded."""
        self.send(SYNC_PREAMBLE)
        time.sleep(SYNC_PAUSE)
        return self

    def hang_up(self):
        """The controller's end goes away: the daemon's reads and writes fail."""
        os.close(self.master)
        self.master = None

    def line_attributes(self):
        return termios.tcgetattr(self.master)

    def fake_port(self, driver, machine=None):
        """Makes /dev/ttyS0 look, to the daemon's look into /sys, like a
        port of `driver` on a board whose device tree is `machine`'s: tmpfs
        over /sys/dev/char (and /sys/firmware), in the sandbox only. The
        pty stays what it is, and drops parity as the mini UART does."""
        rdev = os.fstat(self.slave).st_rdev
        script = ["mount -t tmpfs tmpfs /sys/dev/char", "mkdir -p /sys/dev/char/tty/ttyS0/device",
                  "ln -s ../../../drivers/%s /sys/dev/char/tty/ttyS0/device/driver" % driver,
                  "ln -s tty/ttyS0 /sys/dev/char/%d:%d" % (os.major(rdev), os.minor(rdev))]
        if machine:
            script += ["mount -t tmpfs tmpfs /sys/firmware",
                       "mkdir -p /sys/firmware/devicetree/base",
                       "printf '%s\\0' > /sys/firmware/devicetree/base/model" % machine]
        result = self.run(["sh", "-c", " && ".join(script)])
        assert result.returncode == 0, result

    def hold_line(self, held=True):
        """Flow control stops the daemon's output, or lets it go again."""
        termios.tcflow(self.slave, termios.TCOOFF if held else termios.TCOON)

    # --- the system log and the uinput stand-in ---------------------------

    def syslog(self):
        """Every (priority, identity, message) logged so far."""
        while select.select([self.log], [], [], 0)[0]:
            match = SYSLOG_LINE.match(self.log.recv(65536).decode(errors="replace"))
            if match:
                self.syslog_seen.append((int(match[1]), match[2], match[3]))
        return self.syslog_seen

    def wait_syslog(self, text, timeout=5):
        return wait_for(lambda: [e for e in self.syslog() if text in e[2]], timeout,
                        "%r in the system log" % text)[0]

    def stub_log(self):
        try:
            return self.read(STUB_LOG).splitlines()
        except FileNotFoundError:
            return []

    def events(self):
        """(type, code, value) of every event written to the device."""
        return [tuple(int(v) for v in line.split()[1:4])
                for line in self.stub_log() if line.startswith("event ")]

    def touches(self):
        """(x, y, touched) of every whole report the device got."""
        events = self.events()
        reports = [events[i:i + 4] for i in range(0, len(events) - 3, 4)]
        return [(r[0][2], r[1][2], r[2][2]) for r in reports]

    def wait_touches(self, count, timeout=10):
        return wait_for(lambda: len(self.touches()) >= count and self.touches(), timeout,
                        "%d touch reports" % count)

    def sanitizer_reports(self):
        reports = [self.read("/tmp/" + name) for name in os.listdir(self.path("/tmp"))
                   if name.startswith("sanitizer")]
        # GCC's UBSan runtime next to ASan ignores log_path and writes to
        # standard error: the log file once the daemon has detached.
        log = ""
        if os.path.isfile(self.path(LOG_FILE)):  # not a FIFO planted there
            log = self.read(LOG_FILE, "rb").decode(errors="replace")
        return reports + [log] * ("runtime error:" in log)

    def close(self):
        reports = self.sanitizer_reports()
        if hasattr(self, "notify"):
            self.notify.close()
        self.control.close()
        self.process.wait(timeout=10)
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.log.close()
        assert not reports, "sanitizer reports:\n" + "\n".join(reports)
