"""apt for a Debian release and architecture of our choosing, beside the
host's own: package lists of their own, kept in the guests' cache, and no
dpkg database, so that nothing is ever installed on the host. It fetches
another release's kernel, and shows whether a release's archive meets a
package's dependencies.

    /usr/bin/python3 tests/vm/suite_apt.py installable DEB SUITE [ARCH]

resolves everything the package needs, as a fresh system of SUITE would
install it, and prints what apt would install (ARCH: the package's own).
"""
import glob
import os
import re
import subprocess
import sys

KEYRING = "/usr/share/keyrings/debian-archive-keyring.gpg"
DEFAULT_MIRROR = "http://deb.debian.org/debian"


def cache_root():
    """Where the guests' kernels, roots and these lists are kept."""
    default = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                           "quorin-vm")
    return os.environ.get("QUORIN_VM_CACHE") or default


def host_codename():
    with open("/etc/os-release") as f:
        found = re.search(r"^VERSION_CODENAME=\"?(\w+)", f.read(), re.M)
    return found[1] if found else None


def mirror():
    """The Debian archive the host's apt uses (its security archive aside)."""
    text = ""
    for path in ("/etc/apt/sources.list.d/debian.sources", "/etc/apt/sources.list"):
        if os.path.exists(path):
            with open(path) as f:
                text += f.read()
    found = re.findall(r"(?:^URIs:|^deb(?: \[[^]]*\])?)\s+(\S+/debian)/?\s", text, re.M)
    return found[0] if found else DEFAULT_MIRROR


def state_dir(suite, arch):
    return os.path.join(cache_root(), "apt-%s-%s" % (suite, arch))


def options(suite, arch):
    """apt's options for the release's lists of one architecture."""
    state = state_dir(suite, arch)
    for sub in ("lists/partial", "archives/partial"):
        os.makedirs(os.path.join(state, sub), exist_ok=True)
    sources = os.path.join(state, "sources.list")
    with open(sources, "w") as f:
        f.write("deb [arch=%s signed-by=%s] %s %s main\n" % (arch, KEYRING, mirror(), suite))
    status = os.path.join(state, "status")
    open(status, "a").close()
    return ["-o", "Dir::State=" + state, "-o", "Dir::State::Lists=" + state + "/lists",
            "-o", "Dir::State::status=" + status, "-o", "Dir::Cache=" + state,
            "-o", "Dir::Cache::archives=" + state + "/archives",
            "-o", "Dir::Etc::SourceList=" + sources, "-o", "Dir::Etc::SourceParts=/dev/null",
            "-o", "APT::Architecture=" + arch, "-o", "APT::Architectures=" + arch,
            "-o", "APT::Sandbox::User=root"]


def is_host(suite):
    return suite is None or suite == host_codename()


def command(tool, suite, arch):
    """The start of an apt command line for the release's lists; the host's
    own apt for the host's release."""
    return [tool] if is_host(suite) else [tool, *options(suite, arch)]


def has_lists(suite, arch):
    return bool(glob.glob(os.path.join(state_dir(suite, arch), "lists", "*_Packages*")))


def update(suite, arch, private=False):
    """Refreshes the release's lists: the host's own for the host's
    release, unless `private`."""
    apt = ["apt-get", *options(suite, arch)] if private else command("apt-get", suite, arch)
    subprocess.run(apt + ["update", "-q"], stdout=subprocess.DEVNULL, check=False)


def installable(deb, suite, arch=None):
    """What apt would install on a fresh system of the release to install
    the package: (success, apt's output)."""
    arch = arch or subprocess.run(["dpkg-deb", "--field", deb, "Architecture"],
                                  capture_output=True, text=True, check=True).stdout.strip()
    simulate = ["apt-get", *options(suite, arch), "install", "-s", "-q", os.path.abspath(deb)]
    for attempt in range(2):  # again with fresh lists: none yet, or stale ones
        if attempt or not has_lists(suite, arch):
            update(suite, arch, private=True)
        result = subprocess.run(simulate, capture_output=True, text=True)
        if result.returncode == 0:
            break
    return result.returncode == 0, result.stdout + result.stderr


def main(arguments):
    if len(arguments) not in (3, 4) or arguments[0] != "installable":
        sys.exit(__doc__)
    deb, suite = arguments[1:3]
    ok, output = installable(deb, suite, *arguments[3:])
    installs = re.findall(r"^Inst (\S+)", output, re.M)
    print("%s on %s: %s" % (os.path.basename(deb), suite,
                            "installs with " + " ".join(sorted(installs)) if ok else "NOT installable"))
    if not ok:
        sys.exit(output)


if __name__ == "__main__":
    main(sys.argv[1:])
