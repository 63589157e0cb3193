"""First process of a test sandbox: runs as PID 1 of private PID and mount
namespaces made by unshare.

It gives the daemon a private /tmp and /dev: a new devpts instance, a pty
bound over /dev/ttyS0 and a datagram socket at /dev/log; an empty
/var/lib, where a test makes node-exporter's directory when it wants one;
and an empty /sys/class/drm, where a test makes the screens it wants, so
that the host's own never count. The pty's master
and slave and the socket go back to the test over the control socket
inherited as argv[1]. Then it reaps every process that ends in the
sandbox and reports "exit PID STATUS" lines, until the test closes the
control socket; its own end then takes the whole namespace down.
"""
import os
import select
import socket
import subprocess
import sys


def mount(*args):
    subprocess.run(["mount", *args], check=True)


def private_tmp(keep):
    """A fresh /tmp; directories of the project that live under the old one
    (a checkout in /tmp) stay reachable at the same paths."""
    os.makedirs("/dev/.oldtmp")
    mount("--bind", "/tmp", "/dev/.oldtmp")
    mount("-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp")
    for path in keep:
        if path.startswith("/tmp/"):
            os.makedirs(path, exist_ok=True)
            mount("--bind", "/dev/.oldtmp" + path[len("/tmp"):], path)
    subprocess.run(["umount", "-l", "/dev/.oldtmp"], check=True)
    os.rmdir("/dev/.oldtmp")


def private_dev():
    mount("-t", "tmpfs", "-o", "mode=755", "tmpfs", "/dev")
    for name, minor in (("null", 3), ("zero", 5), ("full", 7), ("random", 8), ("urandom", 9)):
        os.mknod("/dev/" + name, 0o20666, os.makedev(1, minor))
        os.chmod("/dev/" + name, 0o666)
    os.mkdir("/dev/pts")
    mount("-t", "devpts", "-o", "newinstance,ptmxmode=0666,mode=0620", "devpts", "/dev/pts")
    os.symlink("pts/ptmx", "/dev/ptmx")


def private_screens():
    """A tmpfs at /sys/class/drm; where the host has no such directory
    (no display driver), over /sys/class, which sysfs lets nobody add to."""
    for where in ("/sys/class/drm", "/sys/class"):
        if os.path.isdir(where):
            mount("-t", "tmpfs", "-o", "mode=755", "tmpfs", where)
            break
    os.makedirs("/sys/class/drm", exist_ok=True)


def serial_line():
    master, slave = os.openpty()
    open("/dev/ttyS0", "w").close()
    mount("--bind", os.ttyname(slave), "/dev/ttyS0")
    return master, slave


def system_log():
    log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    log.bind("/dev/log")
    os.chmod("/dev/log", 0o666)
    return log


def reap(control):
    while True:
        try:
            pid, status = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return
        control.sendall(b"exit %d %d\n" % (pid, os.waitstatus_to_exitcode(status)))


def main():
    control = socket.socket(fileno=int(sys.argv[1]))
    private_dev()
    private_tmp(sys.argv[2:])
    mount("-t", "tmpfs", "-o", "mode=755", "tmpfs", "/var/lib")
    private_screens()
    master, slave = serial_line()
    log = system_log()
    socket.send_fds(control, [b"ready"], [master, slave, log.fileno()])
    for fd in (master, slave, log.detach()):
        os.close(fd)
    try:
        while True:
            ready, _, _ = select.select([control], [], [], 0.02)
            reap(control)
            if ready and not control.recv(4096, socket.MSG_DONTWAIT):
                return
    except OSError:  # the test went away
        return


if __name__ == "__main__":
    main()
