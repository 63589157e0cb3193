"""A Debian guest booted with systemd and udev, where the package is
installed and run as users run it: Debian 12 "bookworm" or 13 "trixie"
(QUORIN_SUITE), each on its own release's kernel and systemd.

That kernel (guest_kernel.py) boots a small first stage that loads the
virtio disk's modules and switches to the root file system on that disk:
a minimal Debian made by mmdebstrap, cached as an ext4 image. qemu writes
to a snapshot of it, so the cache stays clean while the guest's own
changes survive its reboots. The package under test rides in the first
stage and is copied to /root on every boot. The shell channel on the
third serial port is a service of the guest's (guest_shell.sh); the host
plays the controller on the first, as for the busybox guest. A virtio-gpu
screen of a kiosk panel's size shows what the guest draws, through DRM or
a kiosk compositor (cage), and the host reads it with qemu's screendump.

    /usr/bin/python3 tests/vm/debian_guest.py [SUITE [raspi3b]]   # builds the image, prints its path
"""
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import guest_kernel  # noqa: E402
import suite_apt  # noqa: E402
from guest import Guest, add_modules, busybox_root, pack_initramfs  # noqa: E402

# No network in the guest: what the package needs is there beforehand.
# The calibration program runs under cage and weston through seatd (Debian
# 12's cage wants Xwayland, its weston a logind session, hence D-Bus), and
# on X with the modesetting driver under openbox, LXDE's window manager;
# Debian 13 has labwc too, turned by wlr-randr and blanked by wlopm. node-exporter publishes
# the daemon's metrics file; curl scrapes it.
PACKAGES = ("systemd", "systemd-sysv", "udev", "kmod", "procps", "libinput-tools", "libsystemd0",
            "libwayland-client0", "libdrm2", "libxcb1", "libxcb-randr0", "cage", "seatd",
            "xwayland", "weston", "dbus", "libpam-systemd", "xserver-xorg-core",
            "xserver-xorg-input-libinput", "openbox", "xinput", "x11-xserver-utils",
            "prometheus-node-exporter", "curl")
RELEASE_PACKAGES = {"trixie": ("labwc", "wlr-randr", "wlopm")}
# On a Raspberry Pi (an arm64 root, made under qemu-user): what the package
# and the tests of its service need, without the desktops.
PI_PACKAGES = ("systemd", "systemd-sysv", "udev", "kmod", "procps", "libinput-tools",
               "libsystemd0", "libwayland-client0", "libdrm2", "libxcb1", "libxcb-randr0")
SCREEN_SIZE = (800, 480)
# A second head's: a monitor beside the panel.
MONITOR_SIZE = (1024, 768)
# The calibration program's target picture: the background, and the red
# pixel at the middle of the cross.
TARGET_BACKGROUND = b"\x20\x20\x60"
TARGET_CENTRE = b"\xff\x00\x00"
DEFAULT_SUITE = "bookworm"
SHELL_UNIT = """[Unit]
Description=Test harness shell on ttyS2
After=multi-user.target

[Service]
ExecStart=/usr/local/sbin/guest-shell
"""


def suite_packages(suite, arch="amd64"):
    return PACKAGES + RELEASE_PACKAGES.get(suite, ()) if arch == "amd64" else PI_PACKAGES


def image_key(kernel_dir, suite, arch="amd64"):
    text = repr((suite_packages(suite, arch), SHELL_UNIT,
                 guest_kernel.module_index(kernel_dir)["modules"],
                 open(os.path.join(HERE, "guest_shell.sh")).read()))
    return "debian-%s-%s-%s" % (suite, os.path.basename(kernel_dir),
                                hashlib.sha256(text.encode()).hexdigest()[:12])


def emulate(arch):
    """mmdebstrap runs a foreign root's maintainer scripts through
    qemu-user's binfmt entry, which needs binfmt_misc mounted."""
    if arch == guest_kernel.host_arch():
        return []
    binfmt = "/proc/sys/fs/binfmt_misc"
    if not os.path.exists(os.path.join(binfmt, "status")):
        subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", binfmt], check=True)
    entry = "qemu-" + {"arm64": "aarch64", "armhf": "arm"}[arch]
    try:
        with open(os.path.join(binfmt, entry)) as f:
            enabled = f.readline().strip() == "enabled"
    except FileNotFoundError:
        enabled = False
    if not enabled:
        subprocess.run(["update-binfmts", "--enable", entry], check=True)
    return ["--arch=" + arch]


def root_tar(suite, variant="minbase", packages=None, main_only=False, arch="amd64"):
    """mmdebstrap's tarball of a release with the packages, cached: an
    image is remade from it whenever the guest's own additions change.
    `main_only`: from the release's main suite alone, without its updates
    and security archives."""
    packages = suite_packages(suite, arch) if packages is None else packages
    key = (packages, main_only) if main_only else packages
    digest = hashlib.sha256(repr(key if arch == "amd64" else (key, arch)).encode())
    tar = os.path.join(guest_kernel.cache_root(), "debian-%s-%s-%s.tar"
                       % (suite, variant, digest.hexdigest()[:12]))
    if not os.path.exists(tar):
        os.makedirs(os.path.dirname(tar), exist_ok=True)
        include = ["--include=" + ",".join(packages)] if packages else []
        mirrors = ["deb %s %s main" % (suite_apt.mirror(), suite)] if main_only else []
        subprocess.run(["mmdebstrap", "--quiet", "--variant=" + variant, "--format=tar",
                        *emulate(arch), *include, suite, tar + ".part", *mirrors], check=True)
        os.rename(tar + ".part", tar)
    return tar


def install_modules(root, kernel_dir):
    """Every module kept of the kernel, where its release looks for it."""
    index = guest_kernel.module_index(kernel_dir)
    for module in index["modules"].values():
        target = os.path.join(root, "lib", "modules", index["release"], module["path"])
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(os.path.join(kernel_dir, "modules", module["path"]), target)
    return index["release"]


def prepare_root(root, kernel_dir, disk="/dev/vda", arch="amd64"):
    """The guest's own additions: the kernel's modules, the shell channel
    enabled, the disk as its root."""
    release = install_modules(root, kernel_dir)
    emulate(arch)
    subprocess.run(["chroot", root, "depmod", release], capture_output=True, check=True)
    shell = os.path.join(root, "usr", "local", "sbin", "guest-shell")
    shutil.copy(os.path.join(HERE, "guest_shell.sh"), shell)
    os.chmod(shell, 0o755)
    with open(os.path.join(root, "etc", "systemd", "system", "guest-shell.service"), "w") as f:
        f.write(SHELL_UNIT + "\n[Install]\nWantedBy=multi-user.target\n")
    subprocess.run(["systemctl", "--root", root, "enable", "--quiet", "guest-shell.service"],
                   check=True)
    with open(os.path.join(root, "etc", "fstab"), "w") as f:
        f.write("%s / ext4 rw 0 0\n" % disk)
    with open(os.path.join(root, "etc", "hostname"), "w") as f:
        f.write("guest\n")


def disk_image(kernel_dir, suite, arch="amd64", disk="/dev/vda"):
    """The cached root file system image, built on first use."""
    image = os.path.join(guest_kernel.cache_root(), image_key(kernel_dir, suite, arch) + ".ext4")
    if os.path.exists(image):
        return image
    with tempfile.TemporaryDirectory(dir=guest_kernel.cache_root()) as work:
        root = os.path.join(work, "root")
        os.mkdir(root)
        subprocess.run(["tar", "-x", "-C", root, "-f", root_tar(suite, arch=arch)], check=True)
        prepare_root(root, kernel_dir, disk, arch)
        partial = os.path.join(work, "image")
        subprocess.run(["mke2fs", "-q", "-t", "ext4", "-d", root, "-L", "root", partial, "2G"],
                       check=True)
        os.rename(partial, image)
    return image


def first_stage(kernel_dir, files, target, busybox="/bin/busybox",
                modules=guest_kernel.DISK_MODULES):
    """busybox, the disk's modules, the files for /root and first_stage.sh
    as /init."""
    with tempfile.TemporaryDirectory() as root:
        busybox_root(root, "first_stage.sh", busybox, ("root",))
        add_modules(root, kernel_dir, modules)
        for name, path in files.items():
            shutil.copy(path, os.path.join(root, "root", name))
        return pack_initramfs(root, target)


# The Raspberry Pi's root on its SD card; its tree has the PL011 on GPIO
# 14/15 by the shipped overlay, the controller's line.
PI_DISK = "/dev/mmcblk0"


class DebianGuest(Guest):
    reboots = True

    def __init__(self, files, suite=None, heads=1, board=None):
        """`files`: name in the guest's /root to path on the host; `heads`:
        the screens of the one virtio-gpu, the second a monitor of
        MONITOR_SIZE beside the panel; `board`: "raspi3b" for an arm64
        system on qemu's Raspberry Pi 3 B, which has no screen."""
        self.files = files
        self.heads = heads
        self.monitor_socket = None
        super().__init__(build_dir=None, arch="arm64" if board else "amd64",
                         suite=suite or DEFAULT_SUITE, board=board,
                         tree="pl011-gpio14" if board else None)

    def initramfs(self, build_dir, target):
        if self.board:
            self.image = disk_image(self.kernel_dir, self.suite, self.arch, PI_DISK)
            return first_stage(self.kernel_dir, self.files, target,
                               guest_kernel.busybox(self.arch), guest_kernel.SD_MODULES)
        self.image = disk_image(self.kernel_dir, self.suite)
        return first_stage(self.kernel_dir, self.files, target)

    def memory_mib(self):
        return 1024

    def kernel_command_line(self):
        # With -display none qemu never turns a second head on: the kernel does.
        heads = " video=Virtual-2:%dx%de" % MONITOR_SIZE if self.heads > 1 else ""
        board = " quorin_root=%s quorin_shell=%s" % (PI_DISK, self.platform.shell) \
            if self.board else ""
        return "console=%s panic=-1 quiet %s%s%s" % (self.platform.console, self.platform.append,
                                                     heads, board)

    # An xHCI controller to plug a USB serial adapter into, its line a
    # socket that qemu serves, and qemu's machine protocol to plug it with.
    def devices(self):
        if self.board:
            return ["-drive", "file=%s,if=sd,format=raw,snapshot=on" % self.image,
                    "-qmp", "unix:%s/qmp,server=on,wait=off" % self.work]
        gpu = "virtio-gpu-pci,xres=%d,yres=%d" % SCREEN_SIZE
        if self.heads > 1:
            gpu += ",id=gpu,max_outputs=%d" % self.heads
        return ["-drive", "file=%s,if=virtio,format=raw,snapshot=on" % self.image,
                "-device", "qemu-xhci,id=usb",
                "-device", gpu,
                "-chardev", "socket,id=adapter,path=%s/adapter,server=on,wait=off" % self.work,
                "-qmp", "unix:%s/qmp,server=on,wait=off" % self.work]

    def qmp(self, command, **arguments):
        """Runs a command of qemu's machine protocol; returns its reply."""
        if not self.monitor_socket:
            self.monitor_socket = self._connect("qmp").makefile("rw")
            self.qmp("qmp_capabilities")
        self.monitor_socket.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
        self.monitor_socket.flush()
        while True:
            reply = json.loads(self.monitor_socket.readline())
            if "return" in reply or "error" in reply:
                assert "error" not in reply, reply
                return reply["return"]

    def _connect(self, name):
        connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        connection.connect(os.path.join(self.work, name))
        self.sockets.append(connection)
        return connection

    def plug_adapter(self):
        """Plugs the adapter in; returns the controller's end of its line.
        qemu attaches the device only while that end is connected."""
        line = self._connect("adapter")
        self.qmp("device_add", driver="usb-serial", chardev="adapter", id="adapter", bus="usb.0")
        return line

    def unplug_adapter(self, line):
        self.qmp("device_del", id="adapter")
        line.close()
        self.sockets.remove(line)

    def _head(self, head):
        """screendump's arguments for one head of several."""
        return {} if head is None else {"device": "gpu", "head": head}

    def screen(self, head=None):
        """What the screen (or that head) shows: (width, height, RGB bytes
        row by row)."""
        path = os.path.join(self.work, "screen.ppm")
        self.qmp("screendump", filename=path, **self._head(head))
        with open(path, "rb") as f:
            data = f.read()
        # One white space ends the header: the first pixel may be one.
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
        assert header, data[:20]
        return int(header[1]), int(header[2]), data[header.end():]

    def target_on_screen(self, head=None):
        """(x, y) of the calibration target the screen (or that head)
        shows, or None while it shows something else."""
        width, _, pixels = self.screen(head)
        if pixels[:3] != TARGET_BACKGROUND:
            return None
        at = pixels.find(TARGET_CENTRE)
        while at > 0 and at % 3:
            at = pixels.find(TARGET_CENTRE, at + 1)
        return None if at < 0 else (at // 3 % width, at // 3 // width)

    def save_screen(self, path, head=None):
        self.qmp("screendump", filename=os.path.abspath(path), format="png", **self._head(head))

    def journal(self, *arguments):
        return self.check("journalctl -q -o cat --no-pager " + " ".join(arguments))

    def unit(self, *properties, name="quorinDaemon"):
        """The unit's properties, as a dict."""
        text = self.check("systemctl show %s -p %s" % (name, ",".join(properties)))
        return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)

    def reboot(self):
        self.channel.sendall(b"systemctl reboot\n")
        return self.wait_ready()


if __name__ == "__main__":
    release = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_SUITE
    if sys.argv[2:] == ["raspi3b"]:
        print(disk_image(guest_kernel.kernel_dir("arm64", release), release, "arm64", PI_DISK))
    else:
        print(disk_image(guest_kernel.kernel_dir("amd64", release), release))
