"""The service's backlight: dark while the screen it follows is, back at
the level last asked for when the screen returns, and that level kept in
the state directory and sent again at the next start."""
import os
import time

import pytest

from quorin_sim import STARTUP_COMMAND, brightness_command, brightness_level
from sandbox import Sandbox, wait_for
from test_service import METRICS_DIR, ready, wait_metric

SCREEN = "card0-Virtual-1"
DARK = brightness_command(0)
STATE_DIR = "/var/lib/quorindaemon"
STATE = STATE_DIR + "/brightness"


def level(percent):
    return brightness_command(brightness_level(percent))


def logged(box, *starts):
    return [m for _, _, m in box.syslog() if m.startswith(starts)]


def stop(box, process):
    box.run(["kill", "-TERM", str(box.daemon_pid())])
    assert process.wait(10) == 0


@pytest.fixture
def screen():
    box = Sandbox(screens={SCREEN: "On"})
    yield box
    box.close()


def test_dark_with_the_screen_and_back_at_the_level_last_asked_for(screen):
    os.makedirs(screen.path(METRICS_DIR))
    process = screen.start_foreground()
    ready(screen, process)
    assert logged(screen, "Following") == ["Following the screen " + SCREEN]
    screen.write("/tmp/backlight", "60\n")
    assert screen.receive(5) == level(60)
    # Blanked as X does it, then disabled as weston and labwc do.
    for dpms, enabled in (("Off", "enabled"), ("On", "disabled")):
        screen.set_screen(SCREEN, dpms, enabled)
        assert screen.receive(5, timeout=2) == DARK
        assert screen.line_is_quiet(0.8), "nothing while nothing changes"
        screen.set_screen(SCREEN, "On")
        assert screen.receive(5, timeout=1) == level(60)

    screen.set_screen(SCREEN, "Off")
    assert screen.receive(5, timeout=2) == DARK
    screen.write("/tmp/backlight", "40\n")
    assert screen.notification("STATUS=ttyS0: no records yet, 0 bad; brightness 0; screen off, "
                               "12 when on")
    wait_metric(screen, "quorin_screen_on", 0)
    assert screen.line_is_quiet(0.5), "a request is kept while the screen is off"
    screen.set_screen(SCREEN, "On")
    assert screen.receive(5, timeout=1) == level(40)
    wait_metric(screen, "quorin_screen_on", 1)
    # A mode set's blink, as a desktop starting makes, is no blanking.
    for _ in range(6):
        screen.set_screen(SCREEN, "Off")
        time.sleep(0.15)
        screen.set_screen(SCREEN, "On")
        time.sleep(0.35)
    assert screen.line_is_quiet(0.5)
    stop(screen, process)


TWO = {"card0-DP-1": "On", "card1-HDMI-A-1": "On"}


@pytest.mark.parametrize("screens,arguments,messages", [
    ({}, (), ["Screen not followed: none connected yet; the first one connected will be",
              "Following the screen " + SCREEN]),
    (TWO, (), ["Screen not followed: 2 connected (card0-DP-1, card1-HDMI-A-1); name one with "
               "--screen"]),
    (TWO, ("--screen", "card1-HDMI-A-1"), ["Following the screen card1-HDMI-A-1"]),
    ({SCREEN: "On"}, ("--screen=none",), []),
    (TWO, ("--screen", "card2-DP-1"),
     ["Following the screen card2-DP-1", "Screen not read: /sys/class/drm/card2-DP-1/dpms: No "
      "such file or directory; taken as on"]),
])
def test_the_screen_followed_is_the_one_connected_or_the_one_named(screens, arguments, messages):
    """With none connected at the start, the one connected later is taken
    up; every screen is then blanked, and only a followed one darkens."""
    box = Sandbox(screens=screens)
    try:
        process = box.start_foreground(*arguments, env={"WATCHDOG_USEC": "1000000"})
        ready(box, process)
        box.write("/tmp/backlight", "50\n")
        assert box.receive(5) == level(50)
        for name in screens or [SCREEN]:
            box.set_screen(name, "Off")
        if messages and messages[-1].startswith("Following"):
            assert box.receive(5, timeout=2) == DARK
        assert box.line_is_quiet(1.2)
        assert logged(box, "Screen", "Following") == messages
        stop(box, process)
    finally:
        box.close()


def test_the_level_asked_for_is_kept_and_sent_right_after_the_next_start_up_command(screen):
    os.makedirs(screen.path(STATE_DIR))
    process = screen.start_foreground()
    ready(screen, process)
    assert logged(screen, "No brightness") == \
        ["No brightness restored: %s: No such file or directory" % STATE]
    screen.write("/tmp/backlight", "50\n")
    assert screen.receive(5) == level(50)
    first = wait_for(lambda: os.path.exists(screen.path(STATE)) and os.stat(screen.path(STATE)))
    assert screen.read(STATE) == "50\n" and first.st_mode & 0o777 == 0o644
    screen.write("/tmp/backlight", "50")
    assert screen.receive(5) == level(50)
    time.sleep(0.1)
    assert os.stat(screen.path(STATE)).st_ino == first.st_ino, "the same request stored again"
    screen.write("/tmp/backlight", "30\n")
    assert screen.receive(5) == level(30)
    wait_for(lambda: screen.read(STATE) == "30\n", what="the new level kept")
    assert os.stat(screen.path(STATE)).st_ino != first.st_ino, "rewritten in place"
    assert os.listdir(screen.path(STATE_DIR)) == ["brightness"]
    screen.write("/tmp/backlight", "exit\n")
    assert process.wait(10) == 0

    process = screen.start_foreground()
    assert screen.receive(10) == STARTUP_COMMAND + level(30)
    assert screen.line_is_quiet()
    stop(screen, process)
    # Started while the screen is off: it counts as on until read off twice.
    screen.set_screen(SCREEN, "Off")
    process = screen.start_foreground()
    assert screen.receive(10) == STARTUP_COMMAND + level(30)
    assert screen.receive(5, timeout=1) == DARK
    screen.set_screen(SCREEN, "On")
    assert screen.receive(5, timeout=1) == level(30)
    stop(screen, process)


@pytest.mark.parametrize("make,why", [
    (lambda box, path: box.write(path, "garbage\n"), " holds no percentage from 0 to 100"),
    (lambda box, path: os.mkdir(box.path(path)), ": Is a directory"),
])
def test_a_bad_kept_level_is_logged_once_and_nothing_is_sent(sandbox, make, why):
    """Where systemd names the state directory, the daemon keeps it there."""
    path = "/tmp/state/brightness"
    os.makedirs(sandbox.path("/tmp/state"))
    make(sandbox, path)
    process = sandbox.start_foreground(env={"STATE_DIRECTORY": "/tmp/state:/tmp/other"})
    ready(sandbox, process)
    assert sandbox.line_is_quiet()
    assert logged(sandbox, "No brightness") == ["No brightness restored: " + path + why]
    for text in ("20\n", "25\n"):
        sandbox.write("/tmp/backlight", text)
        assert sandbox.receive(5) == level(int(text))
    if why == ": Is a directory":
        assert logged(sandbox, "Brightness not kept") == \
            ["Brightness not kept in %s: Is a directory" % path]
    else:
        wait_for(lambda: sandbox.read(path) == "25\n", what="the bad file replaced")
    stop(sandbox, process)


def test_started_without_arguments_it_keeps_and_follows_nothing(screen):
    os.makedirs(screen.path(STATE_DIR))
    screen.write(STATE, "30\n")
    screen.set_screen(SCREEN, "Off")
    screen.start_ready()
    screen.write("/tmp/backlight", "50\n")
    assert screen.receive(5) == level(50)
    assert screen.line_is_quiet(1)
    assert screen.read(STATE) == "30\n"
    assert logged(screen, "Screen", "Following", "No brightness") == []
    assert screen.stop_daemon() == 0
