"""A command run on a fresh Debian system of a chosen release, without a
machine of its own: the release's smallest root (mmdebstrap's "required"
variant, cached as a tarball beside the guests' kernels) is unpacked, gets
this checkout, and becomes the root of a private mount namespace.

    /usr/bin/python3 tests/vm/debian_root.py [--main-only] SUITE COMMAND...

--main-only makes the root from the release's main suite alone, without
its updates and security archives, and leaves it only that: a set of
packages that agree in every architecture even while the registry serves
one architecture's security index out of step with its release file.

COMMAND runs as root in the checkout's copy, through sh -c. The root is
pivoted to rather than entered by chroot: nsenter, as the test sandbox
uses it, takes a process to its mount namespace's own root, which a
chroot would leave at the host's. It has its own /dev, /tmp and /run;
it shares the host's network, for apt, and nothing else of its files:
not its /dev/ttyS0, /tmp or system log. The downloaded packages and the
guests' cache persist between runs. The root is removed afterwards.
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import suite_apt  # noqa: E402
from debian_guest import root_tar  # noqa: E402

PROJECT = os.path.dirname(os.path.dirname(HERE))
CHECKOUT = "/src/quorinDaemon"  # inside the root

# Runs in the new mount namespace: $1 the root, $2 the cache, $3 the
# command. What it mounts goes with the namespace.
ENTER = r"""
set -eu
root=$1 cache=$2
mount --bind "$root" "$root"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount -t tmpfs -o mode=755 tmpfs "$root/dev"
for node in null:3 zero:5 full:7 random:8 urandom:9; do
    mknod -m 666 "$root/dev/${node%:*}" c 1 "${node#*:}"
done
mknod -m 666 "$root/dev/tty" c 5 0
mkdir "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs tmpfs "$root/dev/shm"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
mount -t tmpfs -o mode=755 tmpfs "$root/run"
mkdir -p "$cache/archives" "$cache/guests" "$root/root/.cache/quorin-vm"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
mount --bind "$cache/guests" "$root/root/.cache/quorin-vm"
cd "$root"
mkdir .old
pivot_root . .old
umount -l /.old
rmdir /.old
cd "$4"
exec env -i HOME=/root LANG=C.UTF-8 TERM=dumb PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -c "$3"
"""


def copy_checkout(target):
    """The checkout's files as they are now, committed or not."""
    files = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                           cwd=PROJECT, capture_output=True, check=True).stdout
    existing = b"\0".join(f for f in files.split(b"\0")
                          if f and os.path.lexists(os.path.join(PROJECT, f.decode())))
    os.makedirs(target)
    pack = subprocess.Popen(["tar", "-c", "--null", "-T", "-", "-f", "-"], cwd=PROJECT,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    unpack = subprocess.Popen(["tar", "-x", "-C", target], stdin=pack.stdout)
    pack.stdin.write(existing)
    pack.stdin.close()
    if unpack.wait() or pack.wait():
        raise RuntimeError("cannot copy the checkout into the root")


def run_in_root(suite, command, main_only=False):
    """Runs the command in a fresh root of the release; its status."""
    tar = root_tar(suite, variant="required", packages=(), main_only=main_only)
    name = "root-%s%s" % (suite, "-main" if main_only else "")
    cache = os.path.join(suite_apt.cache_root(), name)
    work = tempfile.mkdtemp(prefix="debian-root-", dir="/var/tmp")
    try:
        root = os.path.join(work, "root")
        os.mkdir(root)
        subprocess.run(["tar", "-x", "-C", root, "-f", tar], check=True)
        copy_checkout(root + CHECKOUT)
        resolv = os.path.join(root, "etc", "resolv.conf")
        if os.path.lexists(resolv):
            os.remove(resolv)  # a link would lead out of the root
        shutil.copy("/etc/resolv.conf", resolv)
        return subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c",
                               ENTER, "enter", root, cache, command, CHECKOUT]).returncode
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    arguments = sys.argv[1:]
    main_only = arguments[:1] == ["--main-only"]
    arguments = arguments[main_only:]
    if len(arguments) < 2:
        sys.exit(__doc__)
    sys.exit(run_in_root(arguments[0], " ".join(arguments[1:]), main_only))
