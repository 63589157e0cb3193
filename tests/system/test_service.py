"""The systemd unit's stop command, run on the daemon in the sandbox as
systemd runs it: it must bring the orderly stop, not leave the daemon to
systemd's SIGTERM."""
import os
import shlex

from sandbox import BUILD_DIR, LOG_USER_INFO

UNIT = os.path.join(BUILD_DIR, "packaging", "quorinDaemon.service")


def unit_command(key):
    with open(UNIT) as unit:
        for line in unit:
            if line.startswith(key + "="):
                # systemd's own unquoting; "$$" passes a "$" to the command.
                return shlex.split(line[len(key) + 1:].replace("$$", "$"))
    raise AssertionError("%s= missing in %s" % (key, UNIT))


def test_stop_command_brings_the_orderly_stop_before_it_returns(daemon):
    pid = daemon.daemon_pid()
    result = daemon.run(unit_command("ExecStop"), env={"MAINPID": str(pid)})
    assert result.returncode == 0, result
    assert pid not in daemon.daemon_pids(), "the command must wait for the daemon to end"
    assert daemon.wait_exit(pid) == 0
    assert daemon.wait_syslog("Daemon stopped")[0] == LOG_USER_INFO
