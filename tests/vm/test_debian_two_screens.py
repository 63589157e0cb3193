"""The calibration beside a second screen, on a Debian guest whose one
virtio-gpu has two heads: the panel's 800x480 and a 1024x768 monitor, side
by side in both orders, under weston, labwc (Debian 13) and Xorg with
openbox. The panel's touches are played onto the panel's head only, its
targets looked for there, and the taps judged where a client of the
display server gets them: before the rule where the mounting and the
server's own default put them, after the root command within 0.5 % of the
panel. Without --output the program lists the outputs and exits 2.

A guest of its own (test_debian_service.py keeps its single screen), its
tests in file order, each server started afresh.
"""
import collections
import os
import re
import sys
import time

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_debian_service as service  # noqa: E402
from debian_guest import MONITOR_SIZE, SCREEN_SIZE, DebianGuest  # noqa: E402
from guest import SUMMARY  # noqa: E402
from test_debian_service import (CHECK_POINTS, RULE, SESSION, UNIT,  # noqa: E402
                                 WESTON, WESTON_INI, X11_CLIENT, X_DESKTOP, X_DISPLAY, XORG,
                                 as_percent, as_user, assert_near, client_taps, mounted,
                                 prove_calibration, start_desktop, start_logged, wayland_display,
                                 wayland_downs)

sim = service.sim
PANEL_MODELINE = "29.50 800 824 896 992 480 483 493 500 -hsync +vsync"  # cvt 800 480
# Where the panel and the monitor are: the head that shows the panel, the
# names of the panel's and the monitor's outputs, and their places.
Layout = collections.namedtuple("Layout", "name head panel monitor panel_at monitor_at")
# The panel wired to the first connector, the monitor placed by the server.
PANEL_RIGHT = Layout("panel-right", 0, "Virtual-1", "Virtual-2", (1024, 0), (0, 0))
PANEL_LEFT = Layout("panel-left", 0, "Virtual-1", "Virtual-2", (0, 0), (800, 0))
# weston sets its outputs side by side in the connectors' order: the panel
# is second when it is on the second connector.
WESTON_LAYOUTS = (PANEL_LEFT,
                  Layout("panel-right", 1, "Virtual-2", "Virtual-1", (1024, 0), (0, 0)))


@pytest.fixture(scope="module")
def guest():
    started = time.monotonic()
    machine = DebianGuest({"quorindaemon.deb": os.environ["QUORIN_DEB"],
                           "touch_logger": os.environ["QUORIN_TOUCH_LOGGER"]},
                          suite=os.environ.get("QUORIN_SUITE"), heads=2)
    machine.check("apt-get install -y -q /root/quorindaemon.deb >/tmp/apt.log 2>&1")
    machine.check("useradd -m -G video,input kiosk && systemctl start seatd %s && "
                  "systemctl stop getty@tty1 && install -m 755 /root/touch_logger /usr/local/bin/"
                  % UNIT)
    assert machine.receive(5) == sim.STARTUP_COMMAND
    machine.check("install -d -o kiosk /home/kiosk/.config")
    yield machine
    machine.close()
    SUMMARY.append("Debian %s guest with two heads: booted in %.1f s, whole session %.1f s"
                   % (machine.suite, machine.boot_seconds, time.monotonic() - started))


def without_rule(guest):
    """The raw device again: the rule gone, the device made anew."""
    guest.check("rm -f %s && udevadm control --reload && systemctl restart %s" % (RULE, UNIT))
    assert guest.receive(5, timeout=30) == sim.STARTUP_COMMAND


def places(layout):
    """{output: (x, y, width, height)} of the panel and the monitor."""
    return {layout.panel: layout.panel_at + SCREEN_SIZE,
            layout.monitor: layout.monitor_at + MONITOR_SIZE}


def box(layout):
    """The layout's box: both outputs, from 0,0."""
    return tuple(max(place[i] + place[i + 2] for place in places(layout).values())
                 for i in (0, 1))


def spread(layout):
    """Where a server that spreads a touch over its layout's box puts the
    check taps before the rule, in pixels of the layout."""
    width, height = box(layout)
    return [(x * width / 100, y * height / 100)
            for x, y in (as_percent(mounted(x / 100, y / 100)) for x, y in CHECK_POINTS)]


def assert_in_layout(positions, expected, layout):
    """Positions in the layout's pixels within TOLERANCE % of its box."""
    width, height = box(layout)
    assert_near(sorted((100 * x / width, 100 * y / height) for x, y in positions),
                sorted((100 * x / width, 100 * y / height) for x, y in expected))


def on_panel(positions, layout):
    """Positions in the layout's pixels, in % of the panel."""
    x0, y0, width, height = places(layout)[layout.panel]
    return [(100 * (x - x0) / width, 100 * (y - y0) / height) for x, y in positions]


def on_an_output(position, layout):
    x, y = position
    return any(left <= x < left + width and top <= y < top + height
               for left, top, width, height in places(layout).values())


def refused_without_output(guest, environment, server, layout):
    """Run without --output: the outputs listed, status 2, within a second
    of the program's own start."""
    timed = ("sh -c 'started=$(date +%s%N); quorin-calibrate; "
             "echo status $? $(( ($(date +%s%N) - started) / 1000000 )) ms'")
    _, text = guest.shell(as_user(environment) + timed)
    status, took = map(int, re.search(r"^status (\d+) (\d+) ms$", text, re.M).groups())
    assert status == 2 and took < 1000, text
    assert "%s shows 2 outputs and ties the touch screen to none of them" % server in text, text
    for name, (x, y, width, height) in places(layout).items():
        assert "\n  %s %dx%d at %d,%d\n" % (name, width, height, x, y) in text, text
    SUMMARY.append("two screens on %s, %s (%s): without --output, status %d in %d ms: %s"
                   % (guest.suite, server, layout.name, status, took,
                      text.split("\nstatus")[0].replace("\n", " /")))


def wayland_socket(display):
    return re.sub(r"XDG_RUNTIME_DIR=(\S+) WAYLAND_DISPLAY=(\S+)", r"\1/\2", display)


def logger(output):
    return ("touch_logger " + output, "^size", wayland_downs)


def wayland_output_taps(guest, environment, layout, count):
    """The check taps where a full-screen client on each output got them,
    in the layout's pixels, once `count` have come: a tap where no output
    is reaches none."""
    for name in places(layout):
        guest.check("(%stouch_logger %s >/tmp/taps-%s 2>&1 &)" % (as_user(environment), name, name))
        guest.wait_shell("grep -q '^size' /tmp/taps-%s" % name, what="the logger on " + name)
    guest.sync_line()
    for record in sim.encode_samples(sum((sim.tap(*mounted(x / 100, y / 100))
                                          for x, y in CHECK_POINTS), [])):
        guest.send(record)
        time.sleep(0.03)
    guest.wait_shell("[ $(cat /tmp/taps-* | grep -c '^down') -ge %d ]" % count,
                     what="the loggers to get %d taps" % count)
    taps = [(left + x, top + y) for name, (left, top, _, _) in places(layout).items()
            for x, y in wayland_downs(guest.read("/tmp/taps-" + name))]
    guest.check("pkill touch_logger; true")
    return taps


def calibrate_on_panel(guest, server, environment, kind, layout, taps, options=None):
    """The guided run on the panel's output, then the root command it
    printed; returns the run's log."""
    name = "%s-%s" % (server, layout.name)
    log = "/tmp/calibration-" + name
    command = "quorin-calibrate " + (options if options is not None else "--output " + layout.panel)
    start_logged(guest, as_user(environment) + command, log, head=layout.head)
    prove_calibration(guest, kind, log, name=name, head=layout.head, taps=taps)
    text = guest.read(log)
    assert "\nlayout %s 800x480 at %d,%d" % (layout.panel, *layout.panel_at) in text, text
    return text


def weston_ini(layout):
    """The outputs' modes, the second connector's EDID lacking 800x480; no
    fade-in at the start, during which weston's shell takes the taps."""
    panel_mode = "800x480" if layout.panel == "Virtual-1" else PANEL_MODELINE
    outputs = ((layout.panel, panel_mode), (layout.monitor, "%dx%d" % MONITOR_SIZE))
    return "[core]\nidle-time=0\n[shell]\npanel-position=none\nstartup-animation=none\n" + "".join(
        "[output]\nname=%s\nmode=%s\n" % output for output in sorted(outputs))


def test_weston_takes_the_output_named_and_the_rule_ties_the_touch_to_it(guest):
    """weston ties a touch device to its first output, else to the one the
    device's WL_OUTPUT names: the rule the root command writes carries it."""
    display = wayland_display(guest)

    def panel_taps(size):
        return client_taps(guest, display, logger(layout.panel), size)

    for layout in WESTON_LAYOUTS:
        without_rule(guest)
        guest.write(WESTON_INI, weston_ini(layout))
        start_desktop(guest, SESSION % WESTON[guest.suite], wayland_socket(display))
        first = SCREEN_SIZE if layout.panel == "Virtual-1" else MONITOR_SIZE
        before = client_taps(guest, display, logger("Virtual-1"), first)
        assert_near(before, [as_percent(mounted(x / 100, y / 100)) for x, y in CHECK_POINTS])
        SUMMARY.append("two screens on %s, weston (%s): before the rule on its first output, "
                       "Virtual-1 %dx%d, at %s" % (guest.suite, layout.name, *first,
                                                   " ".join("%.2f/%.2f" % p for p in before)))
        refused_without_output(guest, display, "weston", layout)
        calibrate_on_panel(guest, "weston", display, "wayland", layout, panel_taps)
        assert 'ENV{WL_OUTPUT}="%s"' % layout.panel in guest.read(RULE)
    # The rule ties the touch screen to the panel now: a run without
    # --output takes that output and says why.
    text = calibrate_on_panel(guest, "weston-tied", display, "wayland", layout, panel_taps,
                              options="")
    assert "ties the touch screen to this output by WL_OUTPUT in the rule" in text, text
    # A new layout: the monitor turned off, the panel alone at 0,0, not at
    # 1024,0. The rule names the output and its matrix is in that output's
    # frame, so the taps stay on the panel.
    monitor = "name=%s\nmode=" % layout.monitor
    guest.write(WESTON_INI, weston_ini(layout).replace(
        monitor + "%dx%d" % MONITOR_SIZE, monitor + "off"))
    start_desktop(guest, SESSION % WESTON[guest.suite], wayland_socket(display))
    moved = panel_taps(SCREEN_SIZE)
    assert_near(moved, CHECK_POINTS)
    SUMMARY.append("two screens on %s, weston: the monitor off, the panel alone at 0,0, taps "
                   "still at %s" % (guest.suite, " ".join("%.2f/%.2f" % p for p in moved)))
    guest.check("systemctl stop desktop")


@pytest.mark.releases("trixie")
def test_labwc_is_tied_to_the_panel_by_its_rc_xml_and_keeps_it_across_a_new_layout(guest):
    """labwc spreads a touch over its whole layout; the run ties the device
    to the panel in the user's rc.xml, which holds when the layout changes,
    and the next run takes the panel from it."""
    display = wayland_display(guest)
    without_rule(guest)

    def arrange(layout):
        guest.check(as_user(display) + "wlr-randr --output %s --mode 800x480 --pos %d,%d "
                    "--output %s --mode %dx%d --pos %d,%d"
                    % (layout.panel, *layout.panel_at, layout.monitor, *MONITOR_SIZE,
                       *layout.monitor_at))

    def panel_taps(size):
        return client_taps(guest, display, logger("Virtual-1"), size)

    start_desktop(guest, SESSION % "labwc", wayland_socket(display))
    arrange(PANEL_RIGHT)
    expected = [p for p in spread(PANEL_RIGHT) if on_an_output(p, PANEL_RIGHT)]
    landed = wayland_output_taps(guest, display, PANEL_RIGHT, len(expected))
    assert_in_layout(landed, expected, PANEL_RIGHT)
    SUMMARY.append("two screens on %s, labwc (%s): before the rule over the %dx%d layout at %s; "
                   "%d in no output's part of it"
                   % (guest.suite, PANEL_RIGHT.name, *box(PANEL_RIGHT),
                      " ".join("%.0f,%.0f" % p for p in sorted(landed)),
                      len(CHECK_POINTS) - len(expected)))
    refused_without_output(guest, display, "labwc", PANEL_RIGHT)
    calibrate_on_panel(guest, "labwc", display, "wayland", PANEL_RIGHT, panel_taps)
    rc_xml = guest.read("/home/kiosk/.config/labwc/rc.xml")
    assert '<touch deviceName="uinput-touch" mapToOutput="Virtual-1" />' in rc_xml, rc_xml

    arrange(PANEL_LEFT)
    moved = panel_taps(SCREEN_SIZE)
    assert_near(moved, CHECK_POINTS)
    SUMMARY.append("two screens on %s, labwc: the layout changed to %s, taps still at %s"
                   % (guest.suite, PANEL_LEFT.name, " ".join("%.2f/%.2f" % p for p in moved)))
    text = calibrate_on_panel(guest, "labwc", display, "wayland", PANEL_LEFT, panel_taps,
                              options="")
    assert "ties the touch screen to this output by its rc.xml" in text, text
    guest.check("systemctl stop desktop")


def start_x(guest):
    guest.check(XORG)
    guest.wait_shell("[ -S /tmp/.X11-unix/X0 ]", timeout=60, what="Xorg")
    guest.check(X_DESKTOP)
    guest.wait_shell("pidof openbox", what="openbox")


def x_arrange(guest, layout):
    guest.check(as_user(X_DISPLAY) + "xrandr --output %s --mode 800x480 --pos %dx%d "
                "--output %s --mode %dx%d --pos %dx%d"
                % (layout.panel, *layout.panel_at, layout.monitor, *MONITOR_SIZE,
                   *layout.monitor_at))


def x_root_taps(guest):
    return client_taps(guest, X_DISPLAY, X11_CLIENT, (100, 100))


def test_x11_puts_the_window_on_the_output_and_the_matrix_onto_its_place_in_the_root(guest):
    """X spreads a touch over the whole root: the matrix puts the panel onto
    its output's rectangle there, in either layout."""
    start_x(guest)
    for layout in (PANEL_RIGHT, PANEL_LEFT):
        without_rule(guest)
        x_arrange(guest, layout)
        # X confines a touch to the outputs: one where none is lands on one.
        before = x_root_taps(guest)
        expected = spread(layout)
        assert len(before) == len(expected) and all(map(on_an_output, before, [layout] * 5))
        assert_in_layout([p for p, want in zip(before, expected) if on_an_output(want, layout)],
                         [want for want in expected if on_an_output(want, layout)], layout)
        SUMMARY.append("two screens on %s, Xorg (%s): before the rule over the %dx%d root at %s"
                       % (guest.suite, layout.name, *box(layout),
                          " ".join("%.0f,%.0f" % p for p in before)))
        refused_without_output(guest, X_DISPLAY, "Xorg", layout)
        calibrate_on_panel(guest, "x11", X_DISPLAY, "x11", layout,
                           lambda size, layout=layout: on_panel(x_root_taps(guest), layout))
    guest.check("systemctl stop desktop xorg")


def test_the_last_rule_holds_across_a_reboot(guest):
    """The rule is root's file: after a reboot the service makes the device
    anew with it, and X in the same layout puts the taps on the panel."""
    guest.check("systemctl enable --quiet " + UNIT)
    guest.reboot()
    assert guest.receive(5, timeout=60) == sim.STARTUP_COMMAND
    guest.check("systemctl start seatd && systemctl stop getty@tty1")
    start_x(guest)
    x_arrange(guest, PANEL_LEFT)
    after = on_panel(x_root_taps(guest), PANEL_LEFT)
    assert_near(after, CHECK_POINTS)
    SUMMARY.append("two screens on %s, Xorg (%s): after a reboot the taps at %s"
                   % (guest.suite, PANEL_LEFT.name, " ".join("%.2f/%.2f" % p for p in after)))
    guest.check("systemctl stop desktop xorg")
