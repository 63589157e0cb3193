"""The package on a Debian system booted with systemd and udev: installed
with apt, run by its unit, used through udev and libinput, purged. The
release is QUORIN_SUITE's (bookworm by default, or trixie): its own
kernel, systemd and libraries.

One guest serves the module and its tests run in file order on it, as an
administrator would go: install, start, use, stop, restart, lose the
daemon, move it to a USB adapter, enable it and reboot, calibrate, see
the backlight follow the screen, purge. The host
plays the controller on the guest's /dev/ttyS0 and on the adapter's line.
"""
import os
import random
import re
import select
import sys
import time

import pytest

sys.path[:0] = [os.path.dirname(os.path.abspath(__file__)),
                os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")]
import quorin_sim as sim  # noqa: E402
from debian_guest import SCREEN_SIZE, DebianGuest  # noqa: E402
from guest import SUMMARY  # noqa: E402

UNIT = "quorinDaemon"
EXAMPLES = "/usr/share/doc/quorindaemon/examples/"
DROP_IN = "/etc/systemd/system/quorinDaemon.service.d/"
EXPOSURE_BOUND = 1.5
# Newer releases' libinput shows a count of repeated events before the time.
TOUCH = re.compile(r"(TOUCH_\w+)\s+(?:\d+\s+)?\+[\d.]+s\s+-?\d+ \(\d+\)\s*(?:([\d.]+)/\s*([\d.]+))?")
UPSIDE_DOWN = "-1 0 1 0 -1 1"
# Where the screenshots of the calibration go.
ARTIFACTS = os.environ.get("QUORIN_ARTIFACTS",
                           os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                        "build"))
figures = {}


@pytest.fixture(scope="module")
def guest():
    started = time.monotonic()
    machine = DebianGuest({"quorindaemon.deb": os.environ["QUORIN_DEB"],
                           "uinput_stub.so": os.environ["QUORIN_STUB"],
                           "touch_logger": os.environ["QUORIN_TOUCH_LOGGER"]},
                          suite=os.environ.get("QUORIN_SUITE"))
    boot = machine.boot_seconds
    yield machine
    machine.close()
    SUMMARY.append(
        "Debian %s guest, kernel %s, %s (TCG): booted in %.1f s, whole session %.1f s; "
        "unit exposure %s; frozen daemon back after %.1f s"
        % (machine.suite, machine.abi, figures.get("systemd"), boot, time.monotonic() - started,
           figures.get("exposure"), figures.get("watchdog restart", 0)))


def main_pid(guest):
    return int(guest.unit("MainPID")["MainPID"])


def wait_unit(guest, what, **expected):
    """Waits until the unit's properties have the expected values."""
    deadline = time.monotonic() + 30
    while True:
        found = guest.unit(*expected)
        if all(found[key] == str(value) for key, value in expected.items()):
            return found
        assert time.monotonic() < deadline, "waited for %s, unit has %r" % (what, found)
        time.sleep(0.2)


def stops_logged(guest):
    return guest.journal("-u", UNIT).count("Daemon stopped")


def event_node(guest):
    return guest.wait_shell("grep -l uinput-touch /sys/class/input/event*/device/name",
                            what="uinput-touch").split("/")[4]


def touch_events(guest, samples, options=""):
    """Plays the samples to libinput's debug-events on the device; returns
    (event, x %, y %) of each touch event it printed."""
    guest.check("libinput debug-events %s --device /dev/input/%s > /tmp/events 2>&1 &"
                % (options, event_node(guest)))
    guest.wait_shell("grep -q DEVICE_ADDED /tmp/events", what="libinput")
    guest.sync_line()
    for record in sim.encode_samples(samples):
        guest.send(record)
        time.sleep(0.03)
    guest.wait_shell("[ $(grep -c TOUCH_UP /tmp/events) -ge %d ]"
                     % sum(1 for s in samples if not s[2]), what="the last TOUCH_UP")
    guest.check("pkill -f debug-events; true")
    return [(m[1], m[2] and float(m[2]), m[3] and float(m[3]))
            for m in map(TOUCH.search, guest.read("/tmp/events").splitlines()) if m]


def test_installs_with_apt_and_its_unit_is_confined(guest):
    figures["systemd"] = guest.check("systemctl --version").split("\n")[0].split(" (")[0]
    guest.check("apt-get install -y -q /root/quorindaemon.deb >/tmp/apt.log 2>&1")
    guest.files = guest.check("dpkg -L quorindaemon").split()
    report = guest.check("systemd-analyze security --no-pager %s.service" % UNIT)
    figures["exposure"] = float(re.search(r"Overall exposure level for \S+: ([\d.]+)", report)[1])
    assert figures["exposure"] <= EXPOSURE_BOUND, report


def test_start_is_tracked_exactly_and_runs_without_privileges(guest):
    guest.check("systemctl start " + UNIT)
    assert guest.receive(5) == sim.STARTUP_COMMAND
    wait_unit(guest, "the start", ActiveState="active", SubState="running")
    pid = main_pid(guest)
    assert guest.check("pidof quorinDaemon").split() == [str(pid)]
    assert "Daemon started" in guest.journal("-u", UNIT)
    status = guest.read("/proc/%d/status" % pid)
    for field in ("CapEff", "CapPrm", "CapBnd", "CapAmb"):
        assert re.search(r"%s:\s+0+\n" % field, status), field
    assert re.search(r"NoNewPrivs:\s+1\n", status) and re.search(r"Seccomp:\s+2\n", status)
    mounts = [line.split() for line in guest.read("/proc/%d/mountinfo" % pid).splitlines()]
    options = {fields[4]: fields[5].split(",") for fields in mounts}
    assert "ro" in options["/"] and "rw" in options["/tmp"]


def test_a_second_instance_is_refused_both_ways(guest):
    status, output = guest.shell("quorinDaemon")
    assert status == 1 and "Another instance already running" in output
    guest.check("systemctl stop %s && quorinDaemon" % UNIT)
    assert guest.receive(5) == sim.STARTUP_COMMAND
    # The confined guard still sees the daemon started by hand.
    assert guest.shell("systemctl start " + UNIT)[0] != 0
    assert "Another instance already running" in guest.journal("-u", UNIT)
    guest.check("systemctl stop " + UNIT)  # no retry while the other runs
    guest.write("/tmp/backlight", "exit\n")
    guest.wait_shell("! pidof quorinDaemon", what="the hand-started daemon to stop")
    guest.check("systemctl start " + UNIT)
    assert guest.receive(5) == sim.STARTUP_COMMAND


def test_udev_and_libinput_see_a_touch_screen(guest):
    node = event_node(guest)
    assert "ID_INPUT_TOUCHSCREEN=1" in guest.check("udevadm info /dev/input/" + node)
    listing = guest.check("libinput list-devices").split("\n\n")
    (device,) = [block for block in listing if "uinput-touch" in block]
    assert re.search(r"Capabilities:\s+touch", device), device


def test_libinput_turns_taps_and_a_drag_into_touch_events(guest):
    samples = sim.tap(0, 0) + sim.tap(4095, 4095) + sim.drag(0, 2048, 4095, 2048, steps=5)
    events = touch_events(guest, samples)
    names = [event for event, _, _ in events]
    assert names == ["TOUCH_DOWN", "TOUCH_UP"] * 2 + \
        ["TOUCH_DOWN"] + ["TOUCH_MOTION"] * 4 + ["TOUCH_UP"]
    downs = [(x, y) for event, x, y in events if event == "TOUCH_DOWN"]
    assert downs == [(0.0, 0.0), (99.98, 99.98), (0.0, 50.0)]


def tool_overrides(guest):
    """Whether libinput's tools put their own matrix (--set-calibration, the
    identity by default, from 1.2x on) over the device's."""
    return "--set-calibration" in guest.check("libinput debug-events --help")


def two_places(matrix):
    return " ".join("%.2f" % float(n) for n in matrix.split())


def libinput_calibration(guest):
    """The matrix libinput took up for the device: its "Calibration:" line."""
    (device,) = [block for block in guest.check("libinput list-devices").split("\n\n")
                 if "uinput-touch" in block]
    return re.search(r"Calibration:\s+(.*)", device)[1]


def test_a_rotating_calibration_matrix_moves_the_top_left_to_the_other_corner(guest):
    rules = "/etc/udev/rules.d/99-quorin-calibration.rules"
    guest.check("sed '/upside down/{n;s/^#//}' %s99-quorin-calibration.rules > %s"
                % (EXAMPLES, rules))
    guest.check("udevadm control --reload && udevadm trigger --settle --action=change "
                "/dev/input/" + event_node(guest))
    try:
        calibration = libinput_calibration(guest)
        events = [] if tool_overrides(guest) else touch_events(guest, sim.tap(0, 0))
    finally:
        guest.check("rm %s && udevadm control --reload && udevadm trigger --settle "
                    "--action=change /dev/input/%s" % (rules, event_node(guest)))
    assert calibration == two_places(UPSIDE_DOWN)
    if events:
        (x, y), = [(x, y) for event, x, y in events if event == "TOUCH_DOWN"]
        assert x > 99.9 and y > 99.9


def status_counts(guest):
    """(records, bad records) of the unit's status line."""
    text = guest.unit("StatusText")["StatusText"]
    found = re.match(r"ttyS0: (?:(no)|([\d ]+)) records?, ([\d ]+) bad", text)
    assert found, text
    return (0 if found[1] else int(found[2].replace(" ", ""))), int(found[3].replace(" ", ""))


def settled_status_counts(guest):
    """status_counts once the line has stopped changing: it is redrawn at
    most once a second, so right after the last test it may still lag."""
    counts = status_counts(guest)
    for _ in range(10):
        time.sleep(1.2)
        later = status_counts(guest)
        if later == counts:
            return counts
        counts = later
    raise AssertionError("the status line never settled: %s" % (counts,))


def test_status_shows_the_records_and_bad_ones_just_sent(guest):
    records, bad = settled_status_counts(guest)
    samples = sim.random_touches(20, seed=4)
    guest.send(b"".join(sim.encode_samples(samples)))
    guest.wait_shell("systemctl show %s -p StatusText | grep -q 'ttyS0: %s records, %d bad'"
                     % (UNIT, "{:,}".format(records + 40).replace(",", " "), bad),
                     what="the status line to count the records")
    assert re.search(r"Status: \"ttyS0: [\d ]+ records, \d+ bad, last \d+ s ago; brightness",
                     guest.check("systemctl status --no-pager %s" % UNIT))

    noisy = sim.add_noise(sim.encode_samples(sim.random_touches(30, seed=8)), 0.3,
                          random.Random(5), stray=0.3)
    guest.send(b"".join(data for data, _ in noisy))
    intact = sum(whole for _, whole in noisy)
    guest.wait_shell("systemctl show %s -p StatusText | grep -q 'ttyS0: %s records'"
                     % (UNIT, "{:,}".format(records + 40 + intact).replace(",", " ")),
                     what="the status line to count the records behind the noise")
    _, now_bad = status_counts(guest)
    assert bad < now_bad <= bad + len(noisy) - intact


def test_brightness_request_in_the_guest_reaches_the_line(guest):
    guest.write("/tmp/backlight", "50\n")
    assert guest.receive(5) == b"\x1b@0Fi"


SCRAPE = "curl -sf http://127.0.0.1:9100/metrics"
METRICS_FILE = "/var/lib/prometheus/node-exporter/quorin.prom"


def scraped_records(guest):
    """node-exporter's lines of the daemon, and its count of records."""
    text = guest.check(SCRAPE + " | grep -E '^(quorin_|node_textfile_scrape_error)'")
    assert "node_textfile_scrape_error 0" in text, text
    return text, int(re.search(r'^quorin_records_total\{port="ttyS0"\} (\d+)$', text, re.M)[1])


def wait_scraped(guest, records, what, timeout=20):
    guest.wait_shell(SCRAPE + " | grep -q '^quorin_records_total{port=\"ttyS0\"} %d$'" % records,
                     timeout=timeout, what=what)


def test_node_exporter_serves_the_metrics_and_the_records_rise(guest):
    records, _ = settled_status_counts(guest)
    wait_scraped(guest, records, "node-exporter to serve the status line's count", timeout=30)
    before, _ = scraped_records(guest)
    guest.send(b"".join(sim.encode_samples(sim.random_touches(5, seed=9))))
    wait_scraped(guest, records + 10, "the scrape to count the records")
    after, _ = scraped_records(guest)
    # node-exporter gives every value as a float: 1.796854541e+09.
    last = re.search(r'^quorin_last_record_timestamp_seconds\{port="ttyS0"\} (\S+)$', after, re.M)
    assert abs(float(last[1]) - float(guest.check("date +%s"))) < 60, after
    SUMMARY.append("node-exporter on %s served, before:\n  %s\nand after 10 more records:\n  %s"
                   % (guest.suite, before.strip().replace("\n", "\n  "),
                      after.strip().replace("\n", "\n  ")))


# --- the brightness kept across restarts and reboots -------------------------

STATE = "/var/lib/quorindaemon/brightness"
DARK = sim.brightness_command(0)
# The calibrations, from the reboot on, do not follow the screen: their
# display servers' mode sets would come between their lines' commands.
# The tests of the screen at the end take this away.
NO_SCREEN = "/run/systemd/system/quorinDaemon.service.d/"


def this_start_logged(guest, text):
    """The daemon's log lines of its current start that contain `text`."""
    started = guest.unit("InvocationID")["InvocationID"]
    return [line for line in guest.journal("-u", UNIT, "_SYSTEMD_INVOCATION_ID=" + started)
            .splitlines() if text in line]


def test_the_level_asked_for_comes_back_after_a_restart_and_a_bad_state_file_is_said_once(guest):
    assert guest.read(STATE) == "50\n"
    for prepare, sent, why in (("true", b"\x1b@0Fi", None),
                               ("echo garbage > " + STATE, b"", " holds no percentage from 0 to 100"),
                               ("rm " + STATE, b"", ": No such file or directory")):
        guest.check(prepare + " && systemctl restart " + UNIT)
        assert guest.receive(5 + len(sent)) == sim.STARTUP_COMMAND + sent
        assert guest.line_is_quiet(1)
        assert this_start_logged(guest, "No brightness restored") == \
            ([] if sent else ["No brightness restored: " + STATE + why])
        SUMMARY.append("kept level on %s, %s and restart: the line got %s" % (
            guest.suite, prepare, (sim.STARTUP_COMMAND + sent).hex(" ").upper()))


def test_stop_is_the_orderly_stop(guest):
    stops = stops_logged(guest)
    guest.check("systemctl stop " + UNIT)
    assert guest.unit("ActiveState", "Result") == {"ActiveState": "inactive", "Result": "success"}
    assert guest.shell("[ -e %s ]" % METRICS_FILE)[0] != 0, "the metrics outlive the daemon"
    assert stops_logged(guest) == stops + 1
    assert "uinput-touch" not in guest.read("/proc/bus/input/devices")


def test_restart_gives_a_new_tracked_daemon(guest):
    guest.check("systemctl start " + UNIT)
    assert guest.receive(5) == sim.STARTUP_COMMAND
    before = main_pid(guest)
    guest.check("systemctl restart " + UNIT)
    assert guest.receive(5) == sim.STARTUP_COMMAND
    wait_unit(guest, "the restart", ActiveState="active")
    assert main_pid(guest) not in (0, before)
    assert guest.check("pidof quorinDaemon").split() == [str(main_pid(guest))]


def test_a_killed_daemon_is_restarted(guest):
    guest.check("kill -KILL %d" % main_pid(guest))
    assert guest.receive(5, timeout=30) == sim.STARTUP_COMMAND
    wait_unit(guest, "the restart after SIGKILL", ActiveState="active", NRestarts=1)


def test_a_daemon_that_fails_a_device_write_is_restarted(guest):
    # The uinput stand-in fails the first event write: status 1. (/root
    # is out of the daemon's sight.)
    guest.check("install -m 644 /root/uinput_stub.so /usr/local/lib/")
    guest.check("mkdir -p %s && printf '[Service]\\nEnvironment=LD_PRELOAD=/usr/local/lib/"
                "uinput_stub.so QUORIN_STUB_FAIL=10\\n' > %sfail.conf" % (DROP_IN, DROP_IN))
    guest.check("systemctl daemon-reload && systemctl restart " + UNIT)
    assert guest.receive(5) == sim.STARTUP_COMMAND
    guest.sync_line()
    guest.send(sim.encode_record(100, 100, True))
    assert guest.receive(5, timeout=30) == sim.STARTUP_COMMAND
    wait_unit(guest, "the restart after status 1", ActiveState="active", NRestarts=1)
    assert "status=1/FAILURE" in guest.journal("-u", UNIT)
    assert "error: write" in guest.read("/tmp/quorin.daemon.out")
    guest.check("rm %sfail.conf && systemctl daemon-reload && systemctl stop %s" % (DROP_IN, UNIT))


def test_a_frozen_daemon_is_restarted_by_the_watchdog(guest):
    guest.check("systemctl start " + UNIT)
    assert guest.receive(5) == sim.STARTUP_COMMAND
    restarts = int(guest.unit("NRestarts")["NRestarts"])
    frozen = time.monotonic()
    guest.check("kill -STOP %d" % main_pid(guest))
    assert guest.receive(5, timeout=30) == sim.STARTUP_COMMAND
    figures["watchdog restart"] = time.monotonic() - frozen
    wait_unit(guest, "the restart after the watchdog", ActiveState="active",
              NRestarts=restarts + 1)
    log = guest.journal("-u", UNIT, "-n", "20")
    assert "Watchdog timeout (limit 5s)!" in log, log
    assert "Daemon started" in log.split("Watchdog timeout")[-1], log
    guest.check("systemctl stop " + UNIT)


def test_on_a_usb_adapter_it_follows_the_adapter(guest):
    assert guest.unit("BindsTo")["BindsTo"] == "dev-ttyS0.device"
    guest.check("install -D -m 644 %susb-adapter.conf %sline.conf" % (EXAMPLES, DROP_IN))
    guest.check("systemctl daemon-reload && systemctl enable --quiet " + UNIT)
    assert guest.unit("BindsTo")["BindsTo"] == "dev-ttyUSB0.device", "the packaged line replaced"
    line = guest.plug_adapter()
    guest.line, serial = line, guest.line
    try:
        assert guest.receive(5, timeout=30) == sim.STARTUP_COMMAND
        wait_unit(guest, "the start on the adapter", ActiveState="active")
        assert "--device /dev/ttyUSB0" in guest.check("ps -o args= -p %d" % main_pid(guest))
        stops = stops_logged(guest)
        guest.unplug_adapter(line)
        wait_unit(guest, "the stop on unplugging", ActiveState="inactive", Result="success")
        assert stops_logged(guest) == stops + 1
        guest.line = guest.plug_adapter()
        assert guest.receive(5, timeout=30) == sim.STARTUP_COMMAND
        wait_unit(guest, "the start on plugging back", ActiveState="active")
    finally:
        guest.line = serial
    guest.check("systemctl disable --quiet %s && rm -r %s && systemctl daemon-reload"
                % (UNIT, DROP_IN))
    guest.check("systemctl stop " + UNIT)


def test_a_level_asked_for_before_a_reboot(guest):
    guest.check("systemctl start " + UNIT)
    assert guest.receive(5) == sim.STARTUP_COMMAND
    guest.write("/tmp/backlight", "30\n")
    assert guest.receive(5) == sim.brightness_command(9)
    guest.wait_shell("grep -qx 30 " + STATE, what="the level kept")


def test_an_enabled_unit_starts_at_boot_once_uinput_is_loaded(guest):
    guest.check("systemctl enable --quiet " + UNIT)
    guest.reboot()
    assert guest.receive(5, timeout=30) == sim.STARTUP_COMMAND
    wait_unit(guest, "the start at boot", ActiveState="active")
    boot = guest.journal("-b", "-t", "systemd-modules-load", "-t", "quorinDaemon")
    assert "Inserted module 'uinput'" in boot and "Daemon started" in boot, boot
    assert boot.index("Inserted module 'uinput'") < boot.index("Daemon started"), boot


def test_after_the_reboot_the_kept_level_came_right_after_the_start_up_command(guest):
    assert guest.receive(5) == sim.brightness_command(9)
    assert guest.line_is_quiet(1) and this_start_logged(guest, "No brightness") == []
    SUMMARY.append("kept level on %s, reboot: the line got %s" % (
        guest.suite, (sim.STARTUP_COMMAND + sim.brightness_command(9)).hex(" ").upper()))
    guest.check("rm %s && mkdir -p %s && printf '[Service]\\nExecStart=\\nExecStart=/usr/sbin/"
                "quorinDaemon --foreground --screen none\\n' > %sno-screen.conf && systemctl "
                "daemon-reload && systemctl restart %s" % (STATE, NO_SCREEN, NO_SCREEN, UNIT))
    assert guest.receive(5) == sim.STARTUP_COMMAND


# --- guided calibration, as the panel mounted turned and 3 % off -----------

RULE = "/etc/udev/rules.d/99-quorin-calibration.rules"
# Where the check taps land, in % of the screen.
CHECK_POINTS = ((15, 20), (85, 10), (90, 80), (20, 90), (60, 45))
TOLERANCE = 0.5
# cage refuses root: the run is a user's, in the groups video and input.
KIOSK = ("systemd-run --quiet --collect --unit=kiosk --uid=kiosk -p RuntimeDirectory=kiosk "
         "-E XDG_RUNTIME_DIR=/run/kiosk -E WLR_RENDERER=pixman -E LIBSEAT_BACKEND=seatd "
         "-E WLR_NO_HARDWARE_CURSORS=1 cage -- sh -c '%s'")
# The program's log and then its exit status.
LOGGED = "%s >%s 2>&1; echo status $? >>%s"
REPORT_LINE = re.compile(r"^(screen (\d+x\d+ \w+)|target \d/5 [\w-]+ at (\d+),(\d+)|matrix (.*)|"
                         r"centre .* residual ([\d.]+) px|install: sudo (.*)|output (.*))$", re.M)


def mounted(x, y):
    """The raw position the panel sends for a touch at (x, y), fractions of
    the screen: its x axis runs down the screen and its y axis leftwards,
    each over 97 % of the screen from 3 % in."""
    return tuple(round((0.03 + 0.97 * f) * (sim.MAX_POSITION + 1)) for f in (y, 1 - x))


def as_percent(raw):
    return tuple(round(100 * v / (sim.MAX_POSITION + 1), 2) for v in raw)


def hold(guest, x, y):
    """A finger held still on the raw position: samples around it whose
    mean it is, then the lift."""
    jitter = ((0, 0), (1, 0), (-1, 0), (0, 1), (0, -1))
    for record in sim.encode_samples([(x + dx, y + dy, True) for dx, dy in jitter] +
                                     [(x, y, False)]):
        guest.send(record)
        time.sleep(0.02)


def wait_target(guest, previous, log, head=None):
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        found = guest.target_on_screen(head)
        if found and found != previous:
            return found
        time.sleep(0.1)
    raise AssertionError("no new target after %s:\n%s" % (previous, guest.read(log)))


def play_calibration(guest, log, screenshot, head=None):
    """Finds each target the program shows on the screen (the panel's head)
    and touches it as the mounted panel; returns the targets and the raw
    positions sent."""
    width, height = SCREEN_SIZE
    guest.sync_line()
    targets, sent = [], []
    for _ in range(5):
        targets.append(wait_target(guest, targets[-1] if targets else None, log, head))
        if len(targets) == 1:
            guest.save_screen(screenshot, head)
        sent.append(mounted((targets[-1][0] + 0.5) / width, (targets[-1][1] + 0.5) / height))
        hold(guest, *sent[-1])
    return targets, sent


def start_logged(guest, command, log, kiosk=False, head=None):
    """Starts the program once the screen shows no target of an earlier
    run, which would be taken for its own."""
    deadline = time.monotonic() + 20
    while guest.target_on_screen(head):
        assert time.monotonic() < deadline, "a target stays on the screen"
        time.sleep(0.1)
    logged = LOGGED % (command, log, log)
    guest.check(KIOSK % logged if kiosk else "(%s) &" % logged)


def ended(guest, log):
    """(exit status, log) once the program has ended."""
    guest.wait_shell("grep -q '^status' " + log, timeout=60, what="the calibration to end")
    text = guest.read(log)
    return int(re.search(r"^status (\d+)", text, re.M)[1]), text


def calibration_report(guest, log):
    """The targets, matrix, residual and install command the program printed
    once it ended."""
    status, text = ended(guest, log)
    assert status == 0, text
    report = {"targets": []}
    for found in REPORT_LINE.finditer(text):
        if found[3]:
            report["targets"].append((int(found[3]), int(found[4])))
        report.update({key: found[group] for key, group in
                       (("screen", 2), ("matrix", 5), ("residual", 6), ("install", 7),
                        ("output", 8))
                       if found[group]})
    assert "matrix" in report and "residual" in report, text
    return report


def check_taps(guest):
    """libinput's positions of taps at the check points. Where its tools
    put their own matrix over the device's, they are given the one udev
    set on the device."""
    options = ""
    if tool_overrides(guest):
        matrix = re.search(r"LIBINPUT_CALIBRATION_MATRIX=(.*)",
                           guest.check("udevadm info /dev/input/" + event_node(guest)))
        options = "--set-calibration='%s'" % matrix[1] if matrix else ""
    samples = sum((sim.tap(*mounted(x / 100, y / 100)) for x, y in CHECK_POINTS), [])
    return [(x, y) for event, x, y in touch_events(guest, samples, options)
            if event == "TOUCH_DOWN"]


def assert_near(positions, expected):
    assert len(positions) == len(expected), positions
    for (x, y), (want_x, want_y) in zip(positions, expected):
        assert abs(x - want_x) <= TOLERANCE and abs(y - want_y) <= TOLERANCE, (positions, expected)


def on_output(pixel, size, turned):
    """Where a pixel of a window of this size lands on the screen: turned
    by 90 degrees, anticlockwise as wl_output and RandR turn, the window's
    top right corner is the screen's top left one."""
    x, y = pixel
    return (y, size[0] - 1 - x) if turned else pixel


def in_window(percent, turned):
    """Where a spot of the screen, in %, is in the turned window."""
    x, y = percent
    return (100 - y, x) if turned else percent


def prove_calibration(guest, kind, log, turned=False, taps=None, name=None, head=None):
    """Plays the calibration the program runs on the screen (the panel's
    head) and checks what it printed; installs the matrix with the root
    command it printed, where it did not install it itself; checks the taps
    after that: libinput's, or those `taps(size)` says a client of the
    display server got, in % of its screen."""
    started = time.monotonic()
    name = name or kind
    screenshot = os.path.join(ARTIFACTS, "calibration-%s-%s.png" % (guest.suite, name))
    targets, sent = play_calibration(guest, log, screenshot, head)
    report = calibration_report(guest, log)
    size = SCREEN_SIZE[::-1] if turned else SCREEN_SIZE
    assert report["screen"] == "%dx%d %s" % (*size, kind), report
    assert [on_output(target, size, turned) for target in report["targets"]] == targets
    assert not turned or report["output"].startswith("turned 90 by "), report
    assert float(report["residual"]) < 1
    if report.get("install"):
        guest.check(report["install"])
    assert guest.receive(5, timeout=30) == sim.STARTUP_COMMAND
    assert "\"%s\"" % report["matrix"] in guest.read(RULE)
    assert libinput_calibration(guest) == two_places(report["matrix"])
    after = taps(size) if taps else check_taps(guest)
    expected = [in_window(point, turned) for point in CHECK_POINTS]
    assert_near(after, expected)
    SUMMARY.append("calibration on %s (%s) in %.0f s: targets at %s; the panel sent %s; "
                   "%smatrix %s, residual %s px; taps at %s land at %s"
                   % (guest.suite, name, time.monotonic() - started,
                      " ".join("%d,%d" % t for t in targets),
                      " ".join("%d,%d" % s for s in sent),
                      "output %s; " % report["output"] if "output" in report else "",
                      report["matrix"], report["residual"],
                      " ".join("%d/%d" % p for p in expected),
                      " ".join("%.2f/%.2f" % p for p in after)))
    return report


def test_calibration_under_cage_as_a_user_then_installed_by_root(guest):
    guest.check("useradd -m -G video,input kiosk && systemctl start seatd")
    guest.wait_shell("[ -S /run/seatd.sock ]", what="seatd")
    before = check_taps(guest)
    assert_near(before, [as_percent(mounted(x / 100, y / 100)) for x, y in CHECK_POINTS])
    SUMMARY.append("calibration: libinput at %s before: %s"
                   % (" ".join("%d/%d" % p for p in CHECK_POINTS),
                      " ".join("%.2f/%.2f" % p for p in before)))
    start_logged(guest, "quorin-calibrate", "/tmp/calibration", kiosk=True)
    prove_calibration(guest, "wayland", "/tmp/calibration")


def test_calibration_on_the_drm_screen_installs_as_root_in_one_go(guest):
    guest.check("rm %s && udevadm control --reload && systemctl restart %s" % (RULE, UNIT))
    assert guest.receive(5) == sim.STARTUP_COMMAND
    start_logged(guest, "quorin-calibrate --display drm --install", "/tmp/calibration-drm")
    prove_calibration(guest, "drm", "/tmp/calibration-drm")


def test_calibration_gives_up_with_a_reason_and_its_own_status(guest):
    def escape():
        guest.qmp("send-key", keys=[{"type": "qcode", "data": "esc"}])

    def stop_daemon():
        guest.check("systemctl stop " + UNIT)

    cases = (("quorin-calibrate", True, escape, 3, "given up: Escape"),
             ("quorin-calibrate --display drm", False, escape, 3, "given up: Escape"),
             ("quorin-calibrate --display fbdev", False, escape, 3, "given up: Escape"),
             ("quorin-calibrate --display drm --timeout 1", False, None, 4,
              "timeout: no touch counted on top-left in 1 s"),
             ("quorin-calibrate --display drm", False, stop_daemon, 1,
              "the touch screen went away"),
             ("quorin-calibrate", False, None, 1, "no input device named uinput-touch"))
    for number, (command, kiosk, interrupt, status, reason) in enumerate(cases):
        log = "/tmp/given-up-%d" % number
        start_logged(guest, command, log, kiosk)
        if interrupt:
            shown = wait_target(guest, None, log)
            interrupt()
        found, text = ended(guest, log)
        assert found == status and reason in text, (command, text)
        assert not interrupt or "top-left at %d,%d" % shown in text, (command, shown, text)
    guest.check("systemctl start " + UNIT)
    assert guest.receive(5) == sim.STARTUP_COMMAND


# --- on the desktops panel PCs run: weston, labwc, X; upright and turned -----

# A login session of the user's on tty1, as a display manager opens one:
# Debian 12's weston takes the screen only through logind.
SESSION = ("systemd-run --quiet --collect --unit=desktop -p PAMName=login -p User=kiosk "
           "-p TTYPath=/dev/tty1 -p StandardInput=tty-force -p StandardOutput=journal "
           "-E HOME=/home/kiosk -E WLR_RENDERER=pixman -E WLR_NO_HARDWARE_CURSORS=1 %s")
WESTON = {"bookworm": "weston --backend=drm-backend.so --use-pixman --socket=wayland-0",
          "trixie": "weston --backend=drm --renderer=pixman --socket=wayland-0"}
WESTON_INI = "/home/kiosk/.config/weston.ini"
TURNED_WESTON = r"[output]\nname=Virtual-1\ntransform=rotate-90\n"
XORG = "systemd-run --quiet --collect --unit=xorg Xorg :0 vt1 -nolisten tcp -noreset"
X_DESKTOP = ("systemd-run --quiet --collect --unit=desktop --uid=kiosk -E DISPLAY=:0 "
             "-E HOME=/home/kiosk openbox")
X_DISPLAY = "DISPLAY=:0"
# A TouchBegin block's lines, indented under it (Debian 12's xinput prints
# no time line).
XI_TOUCH_BEGIN = re.compile(r"\(TouchBegin\)\n(?:    .*\n)*?    detail: (\d+)\n(?:    .*\n)*?"
                            r"    root: ([\d.]+)/([\d.]+)")


def as_user(environment):
    return "runuser -u kiosk -- env %s " % environment


def wayland_display(guest):
    return "XDG_RUNTIME_DIR=/run/user/%s WAYLAND_DISPLAY=wayland-0" % guest.check(
        "id -u kiosk").strip()


def wayland_downs(text):
    return [(float(x), float(y)) for x, y in re.findall(r"^down ([\d.]+) ([\d.]+)$", text, re.M)]


def x11_downs(text):
    """Each touch's first TouchBegin (X also sends one for the master device)."""
    downs = {}
    for detail, x, y in XI_TOUCH_BEGIN.findall(text):
        downs.setdefault(detail, (float(x), float(y)))
    return list(downs.values())


# A client's command, what it prints once it listens, and where its log
# puts the touches: the test's own Wayland client, and xinput on X.
WAYLAND_CLIENT = ("touch_logger", "^size", wayland_downs)
X11_CLIENT = ("xinput test-xi2 --root", "Virtual core", x11_downs)


def client_taps(guest, environment, client, size):
    """Taps at the check points, where a client of the display server got
    them, in % of its screen of this size."""
    command, ready, downs = client
    guest.check("(%s%s >/tmp/taps 2>&1 &)" % (as_user(environment), command))
    guest.wait_shell("grep -q '%s' /tmp/taps" % ready, what=command)
    guest.sync_line()
    for record in sim.encode_samples(sum((sim.tap(*mounted(x / 100, y / 100))
                                          for x, y in CHECK_POINTS), [])):
        guest.send(record)
        time.sleep(0.03)
    deadline = time.monotonic() + 20
    while len(downs(guest.read("/tmp/taps"))) < len(CHECK_POINTS):
        assert time.monotonic() < deadline, guest.read("/tmp/taps")
        time.sleep(0.2)
    guest.check("pkill -f '%s'; true" % command)
    return [(100 * x / size[0], 100 * y / size[1]) for x, y in downs(guest.read("/tmp/taps"))]


def start_desktop(guest, command, socket):
    guest.check("systemctl stop desktop; true")
    guest.check(command)
    guest.wait_shell("[ -S %s ]" % socket, timeout=60, what=command)


def calibrate_under(guest, name, environment, kind, client, turned=False):
    """The guided run as the desktop's user, then the root command it
    printed; the taps judged by a client of the display server."""
    name += "-turned" if turned else ""
    log = "/tmp/calibration-" + name
    start_logged(guest, as_user(environment) + "quorin-calibrate", log)
    return prove_calibration(guest, kind, log, turned, name=name,
                             taps=lambda size: client_taps(guest, environment, client, size))


def test_calibration_under_weston_upright_and_turned(guest):
    """weston applies the output's turn after the matrix: the one for the
    turned output is the upright one."""
    guest.check("install -m 755 /root/touch_logger /usr/local/bin/ && systemctl stop getty@tty1")
    guest.check("install -d -o kiosk /home/kiosk/.config && "
                "printf '[core]\\nidle-time=0\\n' > " + WESTON_INI)
    display = wayland_display(guest)
    socket = re.sub(r"XDG_RUNTIME_DIR=(\S+) WAYLAND_DISPLAY=(\S+)", r"\1/\2", display)
    start_desktop(guest, SESSION % WESTON[guest.suite], socket)
    upright = calibrate_under(guest, "weston", display, "wayland", WAYLAND_CLIENT)
    guest.check("printf '%s' >> %s" % (TURNED_WESTON, WESTON_INI))
    start_desktop(guest, SESSION % WESTON[guest.suite], socket)
    turned = calibrate_under(guest, "weston", display, "wayland", WAYLAND_CLIENT, turned=True)
    assert "weston: the matrix is given in the unturned output's frame" in turned["output"]
    assert turned["matrix"] == upright["matrix"]
    guest.check("systemctl stop desktop")


@pytest.mark.releases("trixie")
def test_calibration_under_labwc_upright_and_turned(guest):
    """labwc, as every wlroots compositor, maps a touch into the turned
    output: the matrix for it is the turned window's. labwc is in Debian
    13 only."""
    display = wayland_display(guest)
    socket = re.sub(r"XDG_RUNTIME_DIR=(\S+) WAYLAND_DISPLAY=(\S+)", r"\1/\2", display)
    start_desktop(guest, SESSION % "labwc", socket)
    upright = calibrate_under(guest, "labwc", display, "wayland", WAYLAND_CLIENT)
    guest.check(as_user(display) + "wlr-randr --output Virtual-1 --transform 90")
    turned = calibrate_under(guest, "labwc", display, "wayland", WAYLAND_CLIENT, turned=True)
    assert "labwc: the matrix is given in the window's frame" in turned["output"]
    assert turned["matrix"] != upright["matrix"]
    guest.check("systemctl stop desktop")


def test_calibration_on_x11_under_a_window_manager(guest):
    """Xorg with the modesetting and libinput drivers, and openbox: the
    program's window over the whole screen, the taps as X delivers them,
    before and after the rule; Escape; and no drawing on the console
    while X holds the screen."""
    guest.check("rm -f %s && udevadm control --reload && systemctl restart %s" % (RULE, UNIT))
    assert guest.receive(5) == sim.STARTUP_COMMAND
    guest.check(XORG)
    guest.wait_shell("[ -S /tmp/.X11-unix/X0 ]", timeout=60, what="Xorg")
    guest.check(X_DESKTOP)
    guest.wait_shell("pidof openbox", what="openbox")

    asked = time.monotonic()
    status, refusal = guest.shell("env -u DISPLAY quorin-calibrate")
    figures["refusal"] = time.monotonic() - asked
    assert status == 1 and figures["refusal"] < 1, (status, refusal)
    assert "has another master" in refusal and "as kiosk, with DISPLAY=:0" in refusal, refusal

    before = client_taps(guest, X_DISPLAY, X11_CLIENT, SCREEN_SIZE)
    assert_near(before, [as_percent(mounted(x / 100, y / 100)) for x, y in CHECK_POINTS])
    report = calibrate_under(guest, "x11", X_DISPLAY, "x11", X11_CLIENT)
    properties = guest.check(as_user(X_DISPLAY) + "xinput list-props uinput-touch")
    matrix = re.search(r"libinput Calibration Matrix \(\d+\):\s+(.*)", properties)[1]
    assert [round(float(n), 4) for n in matrix.split(", ")[:6]] == \
        [round(float(n), 4) for n in report["matrix"].split()], properties

    start_logged(guest, as_user(X_DISPLAY) + "quorin-calibrate", "/tmp/given-up-x11")
    wait_target(guest, None, "/tmp/given-up-x11")
    guest.qmp("send-key", keys=[{"type": "qcode", "data": "esc"}])
    status, text = ended(guest, "/tmp/given-up-x11")
    assert status == 3 and "given up: Escape" in text, text

    # Debian 12's modesetting driver (Xorg 21.1.7) shows a turned screen
    # on virtio-gpu only as black: nothing would be found on it.
    if guest.suite != "bookworm":
        guest.check(as_user(X_DISPLAY) + "xrandr -o left")
        turned = calibrate_under(guest, "x11", X_DISPLAY, "x11", X11_CLIENT, turned=True)
        assert "Xorg: the matrix is given in the window's frame" in turned["output"]
    SUMMARY.append("calibration on %s: X delivered taps at %s before the rule at %s; refused "
                   "under X without DISPLAY in %.2f s: %s"
                   % (guest.suite, " ".join("%d/%d" % p for p in CHECK_POINTS),
                      " ".join("%.2f/%.2f" % p for p in before), figures["refusal"],
                      refusal.strip().replace("\n", " /")))
    guest.check("systemctl stop desktop xorg")


# --- the backlight dark with the screen, on each desktop -------------------

def commands_until_quiet(guest, quiet=1.5):
    """The commands the line got until it stayed quiet this long."""
    while select.select([guest.line], [], [], quiet)[0]:
        guest.received += guest.line.recv(4096)
    data, guest.received = guest.received, b""
    return [data[at:at + 5] for at in range(0, len(data), 5)]


def screen_followed(guest):
    """Back to the package's own unit, which follows the guest's one
    connected screen; a level asked for. Returns the screen's dpms file.
    What the last desktop's end sent comes before the start-up command."""
    guest.check("rm -rf %s && systemctl daemon-reload && systemctl restart %s" % (NO_SCREEN, UNIT))
    for _ in range(8):
        if guest.receive(5) == sim.STARTUP_COMMAND:
            break
    else:
        raise AssertionError("no start-up command")
    (followed,) = this_start_logged(guest, "Following the screen ")
    guest.write("/tmp/backlight", "60\n")
    assert guest.receive(5) == sim.brightness_command(18)
    return "/sys/class/drm/%s/dpms" % followed.split()[-1]


def blanked_and_back(guest, dpms, desktop, blank, wake):
    """The screen blanked by `blank()`, woken by `wake()`: the line gets the
    darkest level, then the one asked for; the time from the wake to it."""
    blank()
    guest.wait_shell("grep -qx Off " + dpms, timeout=60, what=desktop + " blanking the screen")
    assert commands_until_quiet(guest)[-1:] == [DARK], desktop
    woken = time.monotonic()
    wake()
    assert guest.receive(5, timeout=10) == sim.brightness_command(18), desktop
    latency = time.monotonic() - woken
    assert guest.read(dpms).strip() == "On" and commands_until_quiet(guest) == [], desktop
    SUMMARY.append("backlight on %s under %s: %s on the line when blanked, %s %.2f s after "
                   "the wake" % (guest.suite, desktop, DARK.hex(" ").upper(),
                                 sim.brightness_command(18).hex(" ").upper(), latency))


def tap(guest):
    guest.sync_line()
    for record in sim.encode_samples(sim.tap(2048, 2048)):
        guest.send(record)


def weston(guest, display):
    guest.check("printf '[core]\\nidle-time=1\\n' > " + WESTON_INI)
    start_desktop(guest, SESSION % WESTON[guest.suite], wayland_socket(display))
    return lambda: idle_after_a_touch(guest), lambda: tap(guest)


def idle_after_a_touch(guest):
    """Once (Debian 13, a loaded machine) weston's idle blanking had not
    come a minute after its start; a touch starts its idle time anew, as
    a kiosk's first user would."""
    if guest.shell("sleep 20; grep -qx Off /sys/class/drm/card0-*/dpms", timeout=40)[0] != 0:
        tap(guest)


def labwc(guest, display):
    start_desktop(guest, SESSION % "labwc", wayland_socket(display))
    return (lambda: guest.check(as_user(display) + "wlopm --off '*'"),
            lambda: guest.check(as_user(display) + "wlopm --on '*'"))


def x11(guest, _):
    guest.check(XORG)
    guest.wait_shell("[ -S /tmp/.X11-unix/X0 ]", timeout=60, what="Xorg")
    guest.check(X_DESKTOP)
    guest.wait_shell("pidof openbox", what="openbox")
    return lambda: guest.check(as_user(X_DISPLAY) + "xset dpms force off"), lambda: tap(guest)


def wayland_socket(display):
    return re.sub(r"XDG_RUNTIME_DIR=(\S+) WAYLAND_DISPLAY=(\S+)", r"\1/\2", display)


@pytest.mark.parametrize("desktop,name", [
    (weston, "weston (idle-time)"),
    pytest.param(labwc, "labwc (wlopm)", marks=pytest.mark.releases("trixie")),
    (x11, "X (xset dpms force off)")])
def test_the_backlight_follows_the_screen(guest, desktop, name):
    """Each desktop as it blanks the screen; each woken as users do."""
    dpms = screen_followed(guest)
    blanked_and_back(guest, dpms, name, *desktop(guest, wayland_display(guest)))
    guest.check("systemctl stop desktop xorg; true")


def test_purge_leaves_no_file_of_the_package(guest):
    guest.check("apt-get purge -y -q quorindaemon >/tmp/apt.log 2>&1")
    left = guest.check("for f in %s; do [ -e $f ] && [ ! -d $f ] && echo $f; done; "
                       "ls /etc/systemd/system/*.wants | grep -i quorin; true"
                       % " ".join(guest.files))
    assert left == ""
    assert not guest.shell("pidof quorinDaemon")[1].strip()


