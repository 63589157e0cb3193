"""The controller simulator as a bench user runs it: its own pty bound over
/dev/ttyS0, a drag played once the daemon has sent its start-up command,
and the daemon's commands printed decoded."""
import os

from sandbox import PROJECT

SIMULATOR = os.path.join(PROJECT, "tools", "quorin_sim.py")


def test_simulator_plays_a_drag_and_decodes_the_commands(sandbox):
    sim = sandbox.spawn([SIMULATOR, "--linger", "1", "--steps", "5",
                         "drag", "10", "20", "1000", "0x7D0"])
    try:
        pty = sim.stdout.readline().strip()
        assert pty.startswith("/dev/pts/"), pty
        assert sandbox.run(["mount", "--bind", pty, "/dev/ttyS0"]).returncode == 0
        assert sandbox.start_daemon().returncode == 0
        assert sandbox.wait_touches(6) == [(10, 20, 1), (258, 515, 1), (505, 1010, 1),
                                           (752, 1505, 1), (1000, 2000, 1), (1000, 2000, 0)]
        sandbox.write("/tmp/backlight", "50\n")
        out, err = sim.communicate(timeout=10)
    finally:
        sim.kill()
    assert sim.returncode == 0, err
    assert [line.split("[")[0].strip() for line in out.splitlines()] == [
        "start-up", "brightness level 15 (0F)"]
    assert "[1b 40 30 46 69]" in out
