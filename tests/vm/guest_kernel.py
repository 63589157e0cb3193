"""The guest's kernel: Debian's current kernel package for the guest's
architecture, fetched with apt and reduced to the three files a guest
needs, cached outside the checkout; for a foreign architecture also the
busybox the guest's initramfs runs on.

    /usr/bin/python3 tests/vm/guest_kernel.py [ARCH]   # prints the cache directory

amd64 boots through its PVH entry, which needs the ELF image inside the
compressed bzImage; qemu's arm boards take Debian's vmlinuz as it is. No
package is ever installed on the host: a foreign one only needs its
architecture known to dpkg (scripts/install-deps arm64 adds it).
Cache: $QUORIN_VM_CACHE, else ${XDG_CACHE_HOME:-~/.cache}/quorin-vm, one
directory per kernel ABI holding the kernel, evdev.ko and uinput.ko (for
amd64 also the modules that mount a virtio disk's ext4 root file system
and drive a USB serial adapter: the Debian system guest's, debian_guest.py),
and one per busybox package holding busybox.
"""
import collections
import glob
import lzma
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

MODULES = {"evdev.ko": "kernel/drivers/input/evdev.ko",
           "uinput.ko": "kernel/drivers/input/misc/uinput.ko"}

# In load order.
DISK_MODULES = {name + ".ko": path + "/" + name + ".ko" for path, name in (
    ("kernel/drivers/virtio", "virtio_ring"), ("kernel/drivers/virtio", "virtio"),
    ("kernel/drivers/virtio", "virtio_pci_legacy_dev"),
    ("kernel/drivers/virtio", "virtio_pci_modern_dev"), ("kernel/drivers/virtio", "virtio_pci"),
    ("kernel/drivers/block", "virtio_blk"), ("kernel/crypto", "crc32c_generic"),
    ("kernel/lib", "crc16"), ("kernel/fs", "mbcache"), ("kernel/fs/jbd2", "jbd2"),
    ("kernel/fs/ext4", "ext4"))}
# A USB serial adapter (qemu's usb-serial) behind xHCI, loaded by udev.
USB_MODULES = {name + ".ko": "kernel/drivers/usb/" + path + "/" + name + ".ko" for path, name in (
    ("common", "usb-common"), ("core", "usbcore"), ("host", "xhci-hcd"), ("host", "xhci-pci"),
    ("serial", "usbserial"), ("serial", "ftdi_sio"))}

# What one architecture's guest boots: the meta package that names the
# current kernel, the kernel file kept from its /boot/vmlinuz, and the
# modules kept.
Flavour = collections.namedtuple("Flavour", "meta kernel unpack modules")


def cache_root():
    default = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                           "quorin-vm")
    return os.environ.get("QUORIN_VM_CACHE") or default


def is_complete(directory, flavour):
    return all(os.path.isfile(os.path.join(directory, name))
               for name in (flavour.kernel, *flavour.modules))


def apt_update():
    subprocess.run(["apt-get", "update", "-q"], stdout=subprocess.DEVNULL, check=False)


def host_arch():
    return subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                          check=True).stdout.strip()


def qualified(package, arch):
    """The name apt knows the package by on this host: name:arch for a
    foreign architecture."""
    return package if arch == host_arch() else "%s:%s" % (package, arch)


def current_package(arch):
    """The versioned package the meta package depends on, e.g.
    linux-image-6.1.0-57-arm64; None when apt knows no such package."""
    meta = FLAVOURS[arch].meta
    result = subprocess.run(["apt-cache", "depends", qualified(meta, arch)],
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
    # The build appends the image size behind the frame; zstd refuses it.
    return subprocess.run(["zstd", "-dc"], input=data[:-4], capture_output=True,
                          check=True).stdout


DECOMPRESSORS = ((b"\x1f\x8b", _gunzip), (b"\xfd7zXZ\x00", _unxz),
                 (b"\x28\xb5\x2f\xfd", _unzstd), (b"\x5d\x00\x00", _unlzma))


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


FLAVOURS = {
    "amd64": Flavour("linux-image-amd64", "vmlinux", vmlinux_from_bzimage,
                     {**MODULES, **DISK_MODULES, **USB_MODULES}),
    "arm64": Flavour("linux-image-arm64", "vmlinuz", as_is, MODULES),
    "armhf": Flavour("linux-image-armmp-lpae", "vmlinuz", as_is, MODULES),
}


# --- fetching ------------------------------------------------------------

def unpack_package(deb, target, flavour):
    """Copies the kernel and the two modules out of a kernel package."""
    with tempfile.TemporaryDirectory(dir=os.path.dirname(target)) as tree:
        extract(deb, tree, ["./boot/vmlinuz-*",
                            *("*/" + path for path in flavour.modules.values())])
        (vmlinuz,) = glob.glob(os.path.join(tree, "boot", "vmlinuz-*"))
        with open(vmlinuz, "rb") as f:
            image = flavour.unpack(f.read())
        with open(os.path.join(target, flavour.kernel), "wb") as f:
            f.write(image)
        for name, path in flavour.modules.items():
            (module,) = glob.glob(os.path.join(tree, "*", "lib", "modules", "*", path)) or \
                glob.glob(os.path.join(tree, "lib", "modules", "*", path))
            shutil.copy(module, os.path.join(target, name))


def extract(deb, tree, patterns):
    tar = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", deb], stdout=subprocess.PIPE)
    subprocess.run(["tar", "-x", "-C", tree, "--wildcards", *patterns],
                   stdin=tar.stdout, check=True)
    if tar.wait():
        raise RuntimeError("dpkg-deb failed on " + deb)


def download(package, root, name, unpack):
    """Downloads a package (apt's name for it) and lets `unpack(deb,
    directory)` fill the cache directory `name`, which appears whole or
    not at all."""
    target = os.path.join(root, name)
    os.makedirs(root, exist_ok=True)
    work = tempfile.mkdtemp(prefix=".fetch-", dir=root)
    try:
        subprocess.run(["apt-get", "download", "-q", "-o", "APT::Sandbox::User=root", package],
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


def fetch(package, root, arch):
    flavour = FLAVOURS[arch]
    abi = package[len("linux-image-"):]
    target = os.path.join(root, abi)
    if is_complete(target, flavour):
        return target
    return download(qualified(package, arch), root, abi,
                    lambda deb, directory: unpack_package(deb, directory, flavour))


def newest_cached(root, arch):
    suffix = FLAVOURS[arch].meta[len("linux-image"):]
    complete = [d for d in glob.glob(os.path.join(root, "*" + suffix))
                if is_complete(d, FLAVOURS[arch])]
    return max(complete, key=os.path.getmtime) if complete else None


def with_fresh_lists(find):
    """find() once, and again after refreshing stale package lists, which
    name packages the registry has dropped."""
    error = None
    for attempt in range(2):
        try:
            return find()
        except (subprocess.CalledProcessError, OSError, ValueError, LookupError) as failure:
            error = failure
        if attempt == 0:
            apt_update()
    raise LookupError(str(error))


def kernel_dir(arch=None):
    """The cache directory of the architecture's current guest kernel,
    fetched if need be. Without a usable registry an earlier download
    serves."""
    arch = arch or host_arch()
    root = cache_root()

    def find():
        package = current_package(arch)
        if not package:
            raise LookupError("apt knows no package that %s depends on" % FLAVOURS[arch].meta)
        try:
            return fetch(package, root, arch)
        except subprocess.CalledProcessError as failure:
            raise LookupError("cannot fetch %s: %s" % (package, failure)) from failure

    try:
        return with_fresh_lists(find)
    except LookupError as error:
        fallback = newest_cached(root, arch)
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
        print(kernel_dir(sys.argv[1] if len(sys.argv) > 1 else None))
    except RuntimeError as error:
        sys.exit(str(error))
