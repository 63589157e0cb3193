"""The guest's kernel: Debian's current amd64 kernel package, fetched with
apt and reduced to the three files a guest needs, cached outside the
checkout.

    /usr/bin/python3 tests/vm/guest_kernel.py    # prints the cache directory

The kernel is booted through its PVH entry, which needs the ELF image
inside the compressed bzImage; the package is never installed on the host.
Cache: $QUORIN_VM_CACHE, else ${XDG_CACHE_HOME:-~/.cache}/quorin-vm, one
directory per kernel ABI holding vmlinux, evdev.ko and uinput.ko, and the
modules that mount a virtio disk's ext4 root file system and drive a USB
serial adapter (the Debian system guest's, debian_guest.py).
"""
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

META_PACKAGE = "linux-image-amd64"
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
MODULES.update(DISK_MODULES)
MODULES.update(USB_MODULES)
FILES = ("vmlinux", *MODULES)


def cache_root():
    default = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                           "quorin-vm")
    return os.environ.get("QUORIN_VM_CACHE") or default


def is_complete(directory):
    return all(os.path.isfile(os.path.join(directory, name)) for name in FILES)


def apt_update():
    subprocess.run(["apt-get", "update", "-q"], stdout=subprocess.DEVNULL, check=False)


def current_package():
    """The versioned package the meta package depends on, e.g.
    linux-image-6.1.0-57-amd64; None when apt knows no such package."""
    result = subprocess.run(["apt-cache", "depends", META_PACKAGE], capture_output=True, text=True)
    found = re.findall(r"Depends: (linux-image-\S+-amd64)", result.stdout)
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


# --- fetching ------------------------------------------------------------

def unpack_package(deb, target):
    """Copies vmlinux and the two modules out of a kernel package."""
    with tempfile.TemporaryDirectory(dir=os.path.dirname(target)) as tree:
        tar = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", deb], stdout=subprocess.PIPE)
        subprocess.run(["tar", "-x", "-C", tree, "--wildcards", "./boot/vmlinuz-*",
                        *("*/" + path for path in MODULES.values())],
                       stdin=tar.stdout, check=True)
        if tar.wait():
            raise RuntimeError("dpkg-deb failed on " + deb)
        (vmlinuz,) = glob.glob(os.path.join(tree, "boot", "vmlinuz-*"))
        with open(vmlinuz, "rb") as f:
            elf = vmlinux_from_bzimage(f.read())
        with open(os.path.join(target, "vmlinux"), "wb") as f:
            f.write(elf)
        for name, path in MODULES.items():
            (module,) = glob.glob(os.path.join(tree, "*", "lib", "modules", "*", path)) or \
                glob.glob(os.path.join(tree, "lib", "modules", "*", path))
            shutil.copy(module, os.path.join(target, name))


def fetch(package, root):
    abi = package[len("linux-image-"):]
    target = os.path.join(root, abi)
    if is_complete(target):
        return target
    os.makedirs(root, exist_ok=True)
    work = tempfile.mkdtemp(prefix=".fetch-", dir=root)
    try:
        subprocess.run(["apt-get", "download", "-q", "-o", "APT::Sandbox::User=root", package],
                       cwd=work, check=True, stdout=subprocess.DEVNULL)
        (deb,) = glob.glob(os.path.join(work, "*.deb"))
        partial = os.path.join(work, abi)
        os.mkdir(partial)
        unpack_package(deb, partial)
        shutil.rmtree(target, ignore_errors=True)
        os.rename(partial, target)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return target


def newest_cached(root):
    complete = [d for d in glob.glob(os.path.join(root, "*")) if is_complete(d)]
    return max(complete, key=os.path.getmtime) if complete else None


def kernel_dir():
    """The cache directory of the current guest kernel, fetched if need be.
    Stale package lists name a kernel the registry has dropped: they are
    refreshed once. Without a usable registry an earlier download serves."""
    root = cache_root()
    error = None
    for attempt in range(2):
        package = current_package()
        if package:
            try:
                return fetch(package, root)
            except (subprocess.CalledProcessError, OSError, ValueError) as failure:
                error = "cannot fetch %s: %s" % (package, failure)
        if attempt == 0:
            apt_update()
    fallback = newest_cached(root)
    if not fallback:
        raise RuntimeError(error or "apt knows no package that %s depends on" % META_PACKAGE)
    return fallback


if __name__ == "__main__":
    try:
        print(kernel_dir())
    except RuntimeError as error:
        sys.exit(str(error))
