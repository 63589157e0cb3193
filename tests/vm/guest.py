"""A qemu guest running the unmodified daemon on a real Linux kernel.

The initramfs holds busybox, the static daemon, the evdev reader, the
uinput and evdev modules and guest_init.sh. The host plays the controller
on the guest's /dev/ttyS0, a 16550 behind the real 8250 driver, reads the
kernel console into console.log, and runs shell commands in the guest over
a third serial port. qemu traces every UART parameter change into
qemu.log. The guest's architecture is the daemon's: amd64 on qemu's pc,
arm64 and armhf on its virt board (PLATFORMS); an arm64 daemon also on
qemu's Raspberry Pi 3 B (BOARDS), on the board's own UARTs, booted with
Debian's device tree for it. TCG by default; QUORIN_VM_KVM=1 uses KVM
for a guest of the host's own architecture.
"""
import collections
import ctypes
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "..", "tools")]
import guest_kernel  # noqa: E402
import quorin_sim as sim  # noqa: E402

BOOT_TIMEOUT = 90
# Lines a suite leaves for the end of its run (figures of its guest).
SUMMARY = []
REPORT = re.compile(r"report x=(-?\d+) y=(-?\d+) touch=(\d)")
# The daemon's start-up discard fires on the first read that leaves 17
# characters and a whole record's length behind an ESC. Here the only ESC
# has exactly that length behind it once all 17 are in, so the discard
# fires on the last one however the line splits them into reads. (With the
# ESC in front, a split can leave a bad record that the decoder skips, and
# the discard then eats the first real record.)
SYNC_PREAMBLE = sim.SYNC_PREAMBLE
UART_TRACE = re.compile(r"serial_update_parameters baudrate=(\d+) parity='(.)' data=(\d) stop=(\d)")


def pc_ports(work):
    """COM1 is the controller's ttyS0, COM2 the console, and the shell
    channel a third 16550 (ttyS2)."""
    return ["-chardev", "socket,id=controller,path=%s/controller" % work,
            "-serial", "chardev:controller",
            "-serial", "file:%s/console.log" % work,
            # The third port's usual IRQ is the first one's: sharing that
            # ISA line, the two UARTs upset each other's interrupts and
            # the shell channel lost characters.
            "-chardev", "socket,id=shell,path=%s/shell" % work,
            "-device", "isa-serial,chardev=shell,index=2,iobase=0x3e8,irq=5"]


def virt_ports(work):
    """The board's PL011 is the console (ttyAMA0); two 16550s on its PCI
    bus, as on a panel PC's serial card, are ttyS0 for the controller and
    ttyS1 for the shell channel, in slot order."""
    return ["-serial", "file:%s/console.log" % work,
            "-chardev", "socket,id=controller,path=%s/controller" % work,
            "-device", "pci-serial,chardev=controller,addr=0x10",
            "-chardev", "socket,id=shell,path=%s/shell" % work,
            "-device", "pci-serial,chardev=shell,addr=0x11"]


def raspi_ports(controller):
    """qemu's raspi3b wires its first serial port to the PL011 (ttyAMA0)
    and its second to the mini UART (ttyS1 in Debian's tree): the
    controller takes one and the shell channel the other."""
    def ports(work):
        line = ["-chardev", "socket,id=controller,path=%s/controller" % work,
                "-serial", "chardev:controller"]
        shell = ["-chardev", "socket,id=shell,path=%s/shell" % work, "-serial", "chardev:shell"]
        return line + shell if controller == "ttyAMA0" else shell + line
    return ports


# What differs between the guests of two architectures or boards.
# `ports(work)` gives qemu's serial devices; `console`, `shell` and
# `controller` are their names in the guest; `firmware` is None where qemu
# boots the kernel by itself.
Platform = collections.namedtuple(
    "Platform", "qemu machine cpu firmware memory ports console shell append controller accel",
    defaults=("ttyS0", "tcg"))

PLATFORMS = {
    "amd64": Platform("qemu-system-x86_64", "pc", None, "/usr/share/qemu/qboot.rom", 256,
                      pc_ports, "ttyS1", "ttyS2", "no_timer_check"),
    "arm64": Platform("qemu-system-aarch64", "virt", "cortex-a57", None, 512,
                      virt_ports, "ttyAMA0", "ttyS1", ""),
    "armhf": Platform("qemu-system-arm", "virt", "cortex-a15", None, 512,
                      virt_ports, "ttyAMA0", "ttyS1", ""),
}
# The Raspberry Pi 3 B has two UARTs and no third port: the kernel's
# console goes to the screen's terminal. One CPU, on one host thread: the
# board boots in about 2 s so (14 to 23 s with a thread per CPU), and an
# evdev reader on another CPU may fall behind a burst.
RASPI = dict(qemu="qemu-system-aarch64", machine="raspi3b", cpu=None, firmware=None, memory=1024,
             console="tty0", append="maxcpus=1", accel="tcg,thread=single")
BOARDS = {
    "raspi3b": Platform(**RASPI, ports=raspi_ports("ttyAMA0"), shell="ttyS1", controller="ttyAMA0"),
    "raspi3b-mini-uart": Platform(**RASPI, ports=raspi_ports("ttyS1"), shell="ttyAMA0",
                                  controller="ttyS1"),
}
# The shipped overlay that puts a Pi's PL011 on GPIO 14/15, and the nodes
# of Debian's trees it changes.
PL011_OVERLAY = os.path.join(HERE, "..", "..", "packaging", "examples", "pl011-gpio14.dts")
PL011, MINI_UART, GPIO = "/soc/serial@7e201000", "/soc/serial@7e215040", "/soc/gpio@7e200000"


def with_overlay(tree, target, work):
    """The tree with the shipped PL011 overlay merged, as its comment says
    a user merges it."""
    overlay = os.path.join(work, "pl011-gpio14.dtbo")
    subprocess.run(["dtc", "-q", "-I", "dts", "-O", "dtb", "-o", overlay, PL011_OVERLAY], check=True)
    subprocess.run(["fdtoverlay", "-i", tree, "-o", target, overlay], check=True)
    return target


def raspi_tree(kernel_dir, variant, work):
    """The Pi 3 B's tree as Debian ships it ("stock": Bluetooth holds the
    PL011), with Bluetooth off ("bluetooth-off"), or with the shipped
    overlay merged ("pl011-gpio14"), whose mini UART, which the overlay
    turns off, comes back without pins for the shell channel."""
    stock = os.path.join(kernel_dir, os.path.basename(guest_kernel.PI_TREES[0]))
    tree = os.path.join(work, "raspi-%s.dtb" % variant)
    if variant == "pl011-gpio14":
        with_overlay(stock, tree, work)
        subprocess.run(["fdtput", "-t", "s", tree, MINI_UART, "status", "okay"], check=True)
        subprocess.run(["fdtput", "-d", tree, MINI_UART, "pinctrl-0", "pinctrl-names"], check=True)
    else:
        shutil.copy(stock, tree)
    if variant == "bluetooth-off":
        subprocess.run(["fdtput", "-t", "s", tree, PL011 + "/bluetooth", "status", "disabled"],
                       check=True)
    return tree


# ELF e_machine of the daemon's build to the Debian architecture it runs on.
ELF_MACHINES = {62: "amd64", 183: "arm64", 40: "armhf"}


def build_arch(build_dir):
    """The architecture the build directory's daemon is built for."""
    with open(os.path.join(build_dir, "quorinDaemon"), "rb") as f:
        header = f.read(20)
    machine = struct.unpack_from("<H", header, 18)[0]
    if header[:4] != b"\x7fELF" or machine not in ELF_MACHINES:
        raise ValueError("%s/quorinDaemon: no daemon for a known guest" % build_dir)
    return ELF_MACHINES[machine]


def build_setting(build_dir, name):
    """A variable of the build directory's CMake cache."""
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        found = re.search(r"^%s:\w+=(.*)$" % name, f.read(), re.M)
    return found[1] if found else None


def missing_tools(arch=None, board=None):
    """What this host lacks to boot a guest of the architecture (on the
    board); empty when it can."""
    tools = ["dpkg", "apt-get", "dpkg-deb", "cpio", "gzip"]
    tools += ["dtc", "fdtput", "fdtoverlay"] if board else []
    missing = [tool for tool in tools if not shutil.which(tool)]
    if missing:
        return missing
    arch = arch or guest_kernel.host_arch()
    platform = BOARDS[board] if board else PLATFORMS[arch]
    files = [platform.firmware] if platform.firmware else []
    if arch == guest_kernel.host_arch():
        files.append("/bin/busybox")
    missing = [platform.qemu] if not shutil.which(platform.qemu) else []
    return missing + [path for path in files if not os.path.exists(path)]


def busybox_root(root, init, busybox, directories):
    """The start of an initramfs tree: the directories, a console, busybox
    as sh, and `init` (a script of this directory) as /init."""
    for directory in ("bin", "dev", "proc", "sys", *directories):
        os.makedirs(os.path.join(root, directory))
    os.mknod(os.path.join(root, "dev", "console"), 0o20600, os.makedev(5, 1))
    shutil.copy(os.path.join(HERE, init), os.path.join(root, "init"))
    os.chmod(os.path.join(root, "init"), 0o755)
    shutil.copy(busybox, os.path.join(root, "bin", "busybox"))
    os.symlink("busybox", os.path.join(root, "bin", "sh"))


def pack_initramfs(root, target):
    """The tree as a gzipped newc cpio archive, everything owned by root."""
    files = subprocess.run(["find", "."], cwd=root, capture_output=True, check=True).stdout
    archive = subprocess.run(["cpio", "-o", "-H", "newc", "-R", "0:0", "--quiet"], cwd=root,
                             input=files, capture_output=True, check=True).stdout
    with open(target, "wb") as f:
        subprocess.run(["gzip", "-1"], input=archive, stdout=f, check=True)
    return target


def add_modules(root, kernel_dir, names):
    """The modules and what they depend on in the initramfs's /lib/modules,
    with the list /init loads them by, in order."""
    directory = os.path.join(root, "lib", "modules")
    os.makedirs(directory, exist_ok=True)
    order = guest_kernel.load_order(kernel_dir, names)
    for path in order:
        shutil.copy(os.path.join(kernel_dir, "modules", path), directory)
    with open(os.path.join(directory, "load"), "w") as f:
        f.write("".join(os.path.basename(path) + "\n" for path in order))


def build_initramfs(build_dir, kernel_dir, target, busybox="/bin/busybox"):
    """The guest's whole root file system."""
    strip = build_setting(build_dir, "CMAKE_STRIP") or "strip"
    with tempfile.TemporaryDirectory() as root:
        busybox_root(root, "guest_init.sh", busybox, ("lib", "tmp"))
        for program in ("quorinDaemon", os.path.join("tests", "vm", "evdev_reader")):
            subprocess.run([strip, "-o", os.path.join(root, "bin", os.path.basename(program)),
                            os.path.join(build_dir, program)], check=True)
        add_modules(root, kernel_dir, guest_kernel.INPUT_MODULES)
        return pack_initramfs(root, target)


def die_with_parent():
    """A guest whose test died would run on forever: its shell channel
    only goes quiet. PR_SET_PDEATHSIG ends qemu with the test."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)


def listening_socket(path):
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(1)
    return server


class Guest:
    """One booted guest. Another kind of guest on the same ports overrides
    initramfs(), memory_mib(), kernel_command_line() or devices()."""
    reboots = False  # a reboot ends qemu unless the guest is meant to come back

    def __init__(self, build_dir, arch=None, suite=None, board=None, tree=None):
        """`suite`: the Debian release whose kernel boots, the host's own
        by default; `board`: one of BOARDS instead of the architecture's
        own, booted with raspi_tree()'s `tree`."""
        self.arch = arch or build_arch(build_dir)
        self.suite = suite
        self.board = board
        self.platform = BOARDS[board] if board else PLATFORMS[self.arch]
        self.tree = tree
        self.controller = "/dev/" + self.platform.controller
        self.kernel_dir = guest_kernel.kernel_dir(self.arch, suite)
        self.abi = os.path.basename(self.kernel_dir)
        self.work = tempfile.mkdtemp(prefix="quorin-vm-")
        self.qemu = None
        self.sockets = []
        self.received = b""
        self.channel_text = ""
        try:
            self._boot(build_dir)
        except BaseException:
            self.close()
            raise

    def initramfs(self, build_dir, target):
        busybox = "/bin/busybox" if self.arch == guest_kernel.host_arch() \
            else guest_kernel.busybox(self.arch)
        return build_initramfs(build_dir, self.kernel_dir, target, busybox)

    def memory_mib(self):
        return self.platform.memory

    def kernel_command_line(self):
        # Unknown name=value words become the environment of /init.
        return "console=%s panic=-1 quiet quorin_shell=%s %s" % (
            self.platform.console, self.platform.shell, self.platform.append)

    def kernel(self):
        return os.path.join(self.kernel_dir, guest_kernel.FLAVOURS[self.arch].kernel)

    def devices(self):
        """qemu arguments of devices beyond the serial ports."""
        return []

    def _boot(self, build_dir):
        initramfs = self.initramfs(build_dir, os.path.join(self.work, "initramfs.gz"))
        self.tree_path = raspi_tree(self.kernel_dir, self.tree, self.work) if self.tree else None
        servers = [listening_socket(os.path.join(self.work, name))
                   for name in ("controller", "shell")]
        started = time.monotonic()
        self.qemu = subprocess.Popen(self._command(initramfs), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     preexec_fn=die_with_parent)
        try:
            self.line, self.channel = self.sockets = [self._accept(s) for s in servers]
        finally:
            for server in servers:
                server.close()
        self.wait_ready()
        self.boot_seconds = time.monotonic() - started

    def wait_ready(self):
        """Waits for the guest's shell channel to come up (again, after a
        reboot); returns the rest of its ready line."""
        return self._read_channel_until("guest ready(.*)\n", BOOT_TIMEOUT)[1]

    def _accel(self):
        if os.environ.get("QUORIN_VM_KVM") == "1" and self.arch == guest_kernel.host_arch():
            return ["-accel", "kvm", "-cpu", "host"]
        cpu = ["-cpu", self.platform.cpu] if self.platform.cpu else []
        return ["-accel", self.platform.accel, *cpu]

    def _command(self, initramfs):
        platform, work = self.platform, self.work
        firmware = ["-bios", platform.firmware] if platform.firmware else []
        firmware += ["-dtb", self.tree_path] if self.tree_path else []
        return [platform.qemu, "-M", platform.machine, *self._accel(), "-nodefaults",
                "-display", "none", *([] if self.reboots else ["-no-reboot"]),
                "-m", str(self.memory_mib()), *firmware,
                "-kernel", self.kernel(), "-initrd", initramfs,
                "-append", self.kernel_command_line(), *platform.ports(work), *self.devices(),
                "-trace", "serial_update_parameters", "-D", os.path.join(work, "qemu.log")]

    def _accept(self, server):
        deadline = time.monotonic() + 30
        while not select.select([server], [], [], 0.1)[0]:
            if self.qemu.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("qemu did not start:\n" + self.qemu.stdout.read().decode())
        return server.accept()[0]

    # --- the shell channel -------------------------------------------------

    def _read_channel_until(self, pattern, timeout):
        """Reads the shell channel until the regular expression matches;
        returns the match and drops what it covered."""
        deadline = time.monotonic() + timeout
        while True:
            match = re.search(pattern, self.channel_text)
            if match:
                self.channel_text = self.channel_text[match.end():]
                return match
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.channel], [], [], left)[0]:
                raise AssertionError("guest shell: waited for %r, got %r\nconsole:\n%s"
                                     % (pattern, self.channel_text, self.console()))
            data = self.channel.recv(65536)
            if not data:
                self.qemu.wait(5)
                raise AssertionError("guest went away\nconsole:\n%s\nqemu:\n%s"
                                     % (self.console(), self.qemu.stdout.read().decode()))
            self.channel_text += data.decode(errors="replace")

    def shell(self, command, timeout=30):
        """Runs one line of shell in the guest: (exit status, output)."""
        assert "\n" not in command
        self.channel.sendall(command.encode() + b"\n")
        match = self._read_channel_until(r"(?s)^(.*?)--- (\d+)\n", timeout)
        return int(match[2]), match[1]

    def check(self, command, timeout=30):
        status, output = self.shell(command, timeout)
        assert status == 0, "%r gave %d:\n%s" % (command, status, output)
        return output

    def read(self, inside):
        return self.check("cat " + inside)

    def write(self, inside, text):
        escaped = text.replace("\\", "\\\\").replace("%", "%%").replace("'", "\\047")
        self.check("printf '%s' > %s" % (escaped.replace("\n", "\\n"), inside))

    def wait_shell(self, command, timeout=20, what=None):
        """Repeats a command until it succeeds; returns its output."""
        deadline = time.monotonic() + timeout
        while True:
            status, output = self.shell(command)
            if status == 0:
                return output
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for " + (what or command))
            time.sleep(0.05)

    # --- the daemon and a reader of its device, inside -------------------

    def daemon_command(self, foreground=False):
        """The daemon's command line for the guest's controller line."""
        return " ".join(["quorinDaemon", *(["--foreground"] if foreground else []),
                         *(["--device", self.controller] if self.controller != "/dev/ttyS0" else [])])

    def start_daemon(self, foreground=False):
        """Starts the daemon as a shell would, or as a service manager
        would, in the background with its output in /tmp/foreground.out;
        returns the shell's exit status."""
        if foreground:
            return self.shell(self.daemon_command(True) + " > /tmp/foreground.out 2>&1 &")[0]
        return self.shell(self.daemon_command())[0]

    def daemon_running(self):
        """Whether a quorinDaemon process that has not ended exists."""
        table = self.check("ps -o stat,comm")
        return any(line.split()[1:] == ["quorinDaemon"] and not line.startswith("Z")
                   for line in table.splitlines()[1:])

    def sync_line(self):
        """Sends the preamble and returns once the daemon has read it all,
        so that the discard cannot take any record sent afterwards."""
        command = "grep rchar /proc/$(pidof quorinDaemon)/io"
        before = int(self.check(command).split()[1])
        self.send(SYNC_PREAMBLE)
        self.wait_shell("[ $(%s | cut -d' ' -f2) -ge %d ]" % (command, before + len(SYNC_PREAMBLE)),
                        what="the daemon to read the preamble")

    def syslog(self):
        return self.read("/tmp/syslog")

    def watch_touches(self):
        """Starts the evdev reader on "uinput-touch"; returns its first
        line (the device's state when it started)."""
        self.check("evdev_reader watch > /tmp/reports 2>&1 &")
        try:
            return self.wait_shell("grep ready /tmp/reports", what="the reader").strip()
        except AssertionError as error:
            raise AssertionError("%s\n%s" % (error, self.shell("cat /tmp/reports; ps")[1]))

    def reader_output(self):
        return self.read("/tmp/reports").splitlines()

    def reports(self):
        """(x, y, touched) of every report the reader got so far."""
        return [(int(m[1]), int(m[2]), m[3] == "1")
                for m in map(REPORT.match, self.reader_output()) if m]

    def wait_reports(self, count, timeout=20):
        """The reports once there are at least `count`."""
        deadline = time.monotonic() + timeout
        while len(self.reports()) < count:
            if time.monotonic() > deadline:
                raise AssertionError("waited for %d reports, the reader has:\n%s"
                                     % (count, "\n".join(self.reader_output())))
            time.sleep(0.05)
        return self.reports()

    # --- the controller's end of the serial line ---------------------------

    def send(self, data):
        self.line.sendall(data)

    def receive(self, count, timeout=10):
        """The next `count` bytes the guest wrote to its /dev/ttyS0."""
        deadline = time.monotonic() + timeout
        while len(self.received) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.line], [], [], left)[0]:
                raise AssertionError("line got %r, waited for %d bytes" % (self.received, count))
            self.received += self.line.recv(4096)
        data, self.received = self.received[:count], self.received[count:]
        return data

    def line_is_quiet(self, seconds=0.3):
        return not select.select([self.line], [], [], seconds)[0] and not self.received

    # --- what qemu saw -------------------------------------------------------

    def uart_settings(self):
        """(baud, parity, data bits, stop bits) of every UART parameter
        change so far, in order."""
        with open(os.path.join(self.work, "qemu.log")) as f:
            return [(int(m[1]), m[2], int(m[3]), int(m[4])) for m in UART_TRACE.finditer(f.read())]

    def console(self):
        try:
            with open(os.path.join(self.work, "console.log"), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def close(self):
        if self.qemu:
            if self.qemu.poll() is None:
                self.qemu.kill()
            self.qemu.wait()
            self.qemu.stdout.close()
        for sock in self.sockets:
            sock.close()
        shutil.rmtree(self.work, ignore_errors=True)
