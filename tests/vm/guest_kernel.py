"""The guest's kernel: Debian's current kernel package for the guest's
architecture and release (the host's own, or another through
suite_apt.py), fetched with apt and reduced to the kernel and the modules
the guests load, cached outside the checkout; for a foreign architecture
also the busybox the guest's initramfs runs on.

    /usr/bin/python3 tests/vm/guest_kernel.py [ARCH [SUITE]]   # prints the cache directory

amd64 boots through its PVH entry, which needs the ELF image inside the
compressed bzImage; qemu's arm boards take Debian's vmlinuz as it is. No
package is ever installed on the host: a foreign one only needs its
architecture known to dpkg (scripts/install-deps arm64 adds it).
Cache: $QUORIN_VM_CACHE, else ${XDG_CACHE_HOME:-~/.cache}/quorin-vm, one
directory per kernel ABI holding the kernel, modules.json (each module's
path and dependencies, the names built in) and the modules, unpacked, at
their paths under modules/: evdev and uinput, for amd64 also those that
mount a virtio disk's ext4 root file system and drive a USB serial adapter
(the Debian system guest's, debian_guest.py), for arm64 the Raspberry
Pis' device trees; and one directory per busybox package holding busybox.
"""
import collections
import glob
import json
import lzma
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import suite_apt  # noqa: E402

# The modules each guest loads, by name; what they depend on comes with
# them (a release's kernel may build some of either in).
INPUT_MODULES = ("evdev", "uinput")
# The Debian system guest's root file system on a virtio disk. ext4 takes
# its checksums through the crypto API, a dependency its module does not
# name.
DISK_MODULES = ("virtio_pci", "virtio_blk", "crc32c_generic", "ext4")
# The same on a Raspberry Pi's SD card, behind its sdhost controller.
SD_MODULES = ("bcm2835", "crc32c_generic", "ext4")
# A USB serial adapter (qemu's usb-serial) behind xHCI, loaded by udev.
USB_MODULES = ("xhci_pci", "ftdi_sio")
# qemu's virtio-gpu, the screen the calibration program draws on, loaded by
# udev; its DRM helpers come as its dependencies.
DISPLAY_MODULES = ("virtio_gpu",)

# What one architecture's guest boots: the meta package that names the
# current kernel, the kernel file kept from its /boot/vmlinuz, and the
# modules kept.
Flavour = collections.namedtuple("Flavour", "meta kernel unpack modules trees")
INDEX = "modules.json"


cache_root = suite_apt.cache_root


def module_index(directory):
    """The cached kernel's modules: name to path and dependencies, the
    names built in, and the release they came from."""
    with open(os.path.join(directory, INDEX)) as f:
        return json.load(f)


def is_complete(directory, flavour, suite=None):
    try:
        index = module_index(directory)
    except (OSError, ValueError):
        return False
    known = set(index["modules"]) | set(index["builtin"])
    files = (flavour.kernel, *map(os.path.basename, flavour.trees))
    return all(os.path.isfile(os.path.join(directory, name)) for name in files) and \
        set(flavour.modules) <= known and (suite is None or index["suite"] == suite)


def load_order(directory, names):
    """The module files to load for these modules, each after what it
    depends on; none for what the kernel has built in."""
    index, order = module_index(directory), []

    def visit(name):
        module = index["modules"].get(name)
        if module is None:
            if name not in index["builtin"]:
                raise LookupError("kernel %s has no module %s" % (index["release"], name))
            return
        if module["path"] in order:
            return
        for dependency in module["depends"]:
            visit(dependency)
        order.append(module["path"])

    for name in names:
        visit(name)
    return order


def host_arch():
    return subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                          check=True).stdout.strip()


def qualified(package, arch, suite=None):
    """The name apt knows the package by: name:arch for a foreign
    architecture in the host's lists."""
    if not suite_apt.is_host(suite) or arch == host_arch():
        return package
    return "%s:%s" % (package, arch)


def current_package(arch, suite=None):
    """The versioned package the meta package depends on, e.g.
    linux-image-6.1.0-57-arm64; None when apt knows no such package."""
    meta = FLAVOURS[arch].meta
    result = subprocess.run(suite_apt.command("apt-cache", suite, arch) +
                            ["depends", qualified(meta, arch, suite)],
                            capture_output=True, text=True)
    found = re.findall(r"Depends: (linux-image-[^\s:]+)", result.stdout)
    return found[0] if found else None


# --- bzImage to ELF ------------------------------------------------------

def _gunzip(data):
    return zlib.decompressobj(wbits=31).decompress(data)


def _unxz(data):
    return lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(data)


def _unlzma(data):
    return lzma.LZMADecompressor(format=lzma.FORMAT_ALONE).decompress(data)


def _unzstd(data):
    return subprocess.run(["zstd", "-dc"], input=data, capture_output=True, check=True).stdout


def _unzstd_payload(data):
    # The build appends the image size behind the frame; zstd refuses it.
    return _unzstd(data[:-4])


DECOMPRESSORS = ((b"\x1f\x8b", _gunzip), (b"\xfd7zXZ\x00", _unxz),
                 (b"\x28\xb5\x2f\xfd", _unzstd_payload), (b"\x5d\x00\x00", _unlzma))


def vmlinux_from_bzimage(image):
    """The ELF kernel inside a bzImage, found through the boot protocol's
    payload fields of the setup header (protocol 2.08 and later)."""
    if image[0x202:0x206] != b"HdrS" or struct.unpack_from("<H", image, 0x206)[0] < 0x208:
        raise ValueError("not a bzImage with payload fields")
    setup_sectors = image[0x1F1] or 4
    offset, length = struct.unpack_from("<II", image, 0x248)
    start = (setup_sectors + 1) * 512 + offset
    payload = image[start:start + length]
    for magic, decompress in DECOMPRESSORS:
        if payload.startswith(magic):
            elf = decompress(payload)
            if not elf.startswith(b"\x7fELF"):
                raise ValueError("payload did not unpack to an ELF image")
            return elf
    raise ValueError("unknown compression, payload starts %s" % payload[:6].hex())


def as_is(image):
    return image


# The device trees kept beside an arm64 kernel, as Debian's kernel package
# ships them: those of the Raspberry Pis with Bluetooth on the PL011, the
# first of them the board qemu has (guest.py's BOARDS).
PI_TREES = tuple("broadcom/%s.dtb" % name for name in (
    "bcm2837-rpi-3-b", "bcm2837-rpi-3-b-plus", "bcm2837-rpi-3-a-plus", "bcm2837-rpi-zero-2-w",
    "bcm2711-rpi-4-b", "bcm2711-rpi-400", "bcm2711-rpi-cm4-io"))
FLAVOURS = {
    "amd64": Flavour("linux-image-amd64", "vmlinux", vmlinux_from_bzimage,
                     INPUT_MODULES + DISK_MODULES + USB_MODULES + DISPLAY_MODULES, ()),
    "arm64": Flavour("linux-image-arm64", "vmlinuz", as_is, INPUT_MODULES + SD_MODULES, PI_TREES),
    "armhf": Flavour("linux-image-armmp-lpae", "vmlinuz", as_is, INPUT_MODULES, ()),
}


# --- modules ---------------------------------------------------------------

# Debian 13 ships its modules compressed; the guests get them plain, which
# busybox's insmod and every kmod load alike.
MODULE_SUFFIXES = ((".ko.xz", _unxz), (".ko.zst", _unzstd),
                   (".ko.gz", _gunzip), (".ko", as_is))
DEPENDS = re.compile(rb"(?:^|\0)depends=([^\0]*)\0")


def module_name(filename):
    """A module's name as the kernel and its dependency lists spell it."""
    for suffix, _ in MODULE_SUFFIXES:
        if filename.endswith(suffix):
            return filename[:-len(suffix)].replace("-", "_")
    return None


def read_module(path):
    for suffix, decompress in MODULE_SUFFIXES:
        if path.endswith(suffix):
            with open(path, "rb") as f:
                return decompress(f.read())
    raise ValueError("not a module: " + path)


def module_files(release_dir):
    """Name to file of every module under a release's module directory."""
    found = {}
    for directory, _, files in os.walk(os.path.join(release_dir, "kernel")):
        for filename in files:
            name = module_name(filename)
            if name:
                found[name] = os.path.join(directory, filename)
    return found


def keep_modules(release_dir, target, wanted):
    """Copies the wanted modules and all they depend on, unpacked, into
    target/modules at their paths in the release; writes the index."""
    files, kept = module_files(release_dir), {}
    with open(os.path.join(release_dir, "modules.builtin")) as f:
        builtin = sorted(module_name(os.path.basename(line.strip())) for line in f)
    pending = list(wanted)
    while pending:
        name = pending.pop()
        if name in kept or name in builtin:
            continue
        if name not in files:
            raise LookupError("the kernel package has no module " + name)
        data = read_module(files[name])
        found = DEPENDS.search(data)
        depends = [d.replace("-", "_") for d in (found[1].decode().split(",") if found else []) if d]
        path = os.path.relpath(files[name], release_dir)
        path = path[:path.index(".ko") + 3]
        os.makedirs(os.path.dirname(os.path.join(target, "modules", path)), exist_ok=True)
        with open(os.path.join(target, "modules", path), "wb") as f:
            f.write(data)
        kept[name] = {"path": path, "depends": depends}
        pending.extend(depends)
    return {"release": os.path.basename(release_dir), "modules": kept, "builtin": builtin}


# --- fetching ------------------------------------------------------------

def unpack_package(deb, target, flavour, suite):
    """Copies the kernel and the modules the guests need out of a kernel
    package."""
    with tempfile.TemporaryDirectory(dir=os.path.dirname(target)) as tree:
        extract(deb, tree, ["./boot/vmlinuz-*", "*/modules/*/kernel/*", "*/modules.builtin",
                            *("./usr/lib/linux-image-*/" + path for path in flavour.trees)])
        (vmlinuz,) = glob.glob(os.path.join(tree, "boot", "vmlinuz-*"))
        for path in flavour.trees:
            (found,) = glob.glob(os.path.join(tree, "usr", "lib", "linux-image-*", path))
            shutil.copy(found, os.path.join(target, os.path.basename(path)))
        with open(vmlinuz, "rb") as f:
            image = flavour.unpack(f.read())
        with open(os.path.join(target, flavour.kernel), "wb") as f:
            f.write(image)
        (release_dir,) = glob.glob(os.path.join(tree, "*", "lib", "modules", "*")) or \
            glob.glob(os.path.join(tree, "lib", "modules", "*"))
        index = keep_modules(release_dir, target, flavour.modules)
        with open(os.path.join(target, INDEX), "w") as f:
            json.dump(dict(index, suite=suite), f, indent=1)


def extract(deb, tree, patterns):
    tar = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", deb], stdout=subprocess.PIPE)
    subprocess.run(["tar", "-x", "-C", tree, "--wildcards", *patterns],
                   stdin=tar.stdout, check=True)
    if tar.wait():
        raise RuntimeError("dpkg-deb failed on " + deb)


def download(package, root, name, unpack, apt=("apt-get",)):
    """Downloads a package (apt's name for it) and lets `unpack(deb,
    directory)` fill the cache directory `name`, which appears whole or
    not at all."""
    target = os.path.join(root, name)
    os.makedirs(root, exist_ok=True)
    work = tempfile.mkdtemp(prefix=".fetch-", dir=root)
    try:
        subprocess.run([*apt, "download", "-q", "-o", "APT::Sandbox::User=root", package],
                       cwd=work, check=True, stdout=subprocess.DEVNULL)
        (deb,) = glob.glob(os.path.join(work, "*.deb"))
        partial = os.path.join(work, name)
        os.mkdir(partial)
        unpack(deb, partial)
        shutil.rmtree(target, ignore_errors=True)
        os.rename(partial, target)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return target


def fetch(package, root, arch, suite):
    flavour = FLAVOURS[arch]
    abi = package[len("linux-image-"):]
    target = os.path.join(root, abi)
    if is_complete(target, flavour):
        return target
    return download(qualified(package, arch, suite), root, abi,
                    lambda deb, directory: unpack_package(deb, directory, flavour, suite),
                    suite_apt.command("apt-get", suite, arch))


def newest_cached(root, arch, suite):
    suffix = FLAVOURS[arch].meta[len("linux-image"):]
    complete = [d for d in glob.glob(os.path.join(root, "*" + suffix))
                if is_complete(d, FLAVOURS[arch], suite)]
    return max(complete, key=os.path.getmtime) if complete else None


def with_fresh_lists(find, suite=None, arch=None):
    """find() once, and again after refreshing stale package lists, which
    name packages the registry has dropped."""
    error = None
    for attempt in range(2):
        try:
            return find()
        except (subprocess.CalledProcessError, OSError, ValueError, LookupError) as failure:
            error = failure
        if attempt == 0:
            suite_apt.update(suite, arch or host_arch())
    raise LookupError(str(error))


def kernel_dir(arch=None, suite=None):
    """The cache directory of the architecture's current guest kernel in a
    Debian release (the host's own by default), fetched if need be.
    Without a usable registry an earlier download serves."""
    arch = arch or host_arch()
    suite = suite or suite_apt.host_codename()
    root = cache_root()

    def find():
        package = current_package(arch, suite)
        if not package:
            raise LookupError("apt knows no package that %s depends on in %s"
                              % (FLAVOURS[arch].meta, suite))
        try:
            return fetch(package, root, arch, suite)
        except subprocess.CalledProcessError as failure:
            raise LookupError("cannot fetch %s: %s" % (package, failure)) from failure

    try:
        return with_fresh_lists(find, suite, arch)
    except LookupError as error:
        fallback = newest_cached(root, arch, suite)
        if not fallback:
            raise RuntimeError(str(error)) from error
        return fallback


def busybox(arch):
    """A static busybox for a foreign architecture's guest: Debian's
    busybox-static of that architecture, which cannot be installed beside
    the host's, unpacked into the cache."""
    root = cache_root()
    package = qualified("busybox-static", arch)

    def find():
        version = subprocess.run(["apt-cache", "policy", package], capture_output=True,
                                 text=True, check=True).stdout
        (candidate,) = re.findall(r"Candidate: (\S+)", version) or [None]
        if not candidate or candidate == "(none)":
            raise LookupError("apt knows no " + package)
        name = "busybox-%s-%s" % (candidate.replace(":", "_"), arch)
        if not os.path.isfile(os.path.join(root, name, "busybox")):
            download(package, root, name, unpack_busybox)
        return os.path.join(root, name, "busybox")

    try:
        return with_fresh_lists(find)
    except LookupError as error:
        cached = glob.glob(os.path.join(root, "busybox-*-%s" % arch, "busybox"))
        if not cached:
            raise RuntimeError(str(error)) from error
        return max(cached, key=os.path.getmtime)


def unpack_busybox(deb, target):
    with tempfile.TemporaryDirectory(dir=os.path.dirname(target)) as tree:
        extract(deb, tree, ["./bin/busybox"])
        shutil.copy(os.path.join(tree, "bin", "busybox"), target)


if __name__ == "__main__":
    try:
        print(kernel_dir(*sys.argv[1:3]))
    except RuntimeError as error:
        sys.exit(str(error))
