"""Measures the real daemon in the test sandbox and prints one table.

Run by bench/run, which builds the Release tree and sets QUORIN_BUILD_DIR.
Every time here is CLOCK_MONOTONIC: the uinput stand-in stamps each event
write with it, and time.monotonic_ns() reads the same clock, so a record's
latency is the stand-in's stamp of its ABS_X event minus the moment the
record's last byte was written to the controller's end of the pty.
Figures are printed, never judged: the targets column is for the reader.
A second table sets the plain daemon and the service mode side by side,
the service following a screen of its sandbox's own /sys/class/drm.
"""
import contextlib
import json
import os
import platform
import random
import select
import signal
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "system"))
import sandbox as sb  # noqa: E402
import quorin_sim as sim  # noqa: E402  (tools/ is on the path through sandbox)

READ_PAUSE_NS = 1_400_000
POLL_HZ = 1e6 / 1400
FLOOR_LOOP = os.path.join(sb.BUILD_DIR, "bench", "floor_loop")
DECODER_BENCH = os.path.join(sb.BUILD_DIR, "bench", "quorin_decoder_bench")
STUB_ENV = {"LD_PRELOAD": sb.STUB, "QUORIN_STUB_LOG": sb.STUB_LOG}

LATENCY_RECORDS = 500
IDLE_SECONDS = 10
BURST_RECORDS = 20000
STREAM_RECORDS = 200
# A record is 11 characters of 11 bits at 9600 baud.
RECORD_NS = 11 * 11 * 1_000_000_000 // 9600
BRIGHTNESS_REQUESTS = 200
STARTUP_RUNS = 5
SCREEN = "card0-Virtual-1"
SCREEN_RETURNS = 20


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, round(share * (len(ordered) - 1)))]


def ms(ns):
    return "%.3f ms" % (ns / 1e6)


class XEvents:
    """Follows the stand-in's log: the (value, mono ns) of each new ABS_X
    event, read as the log grows."""

    def __init__(self, box):
        self.file = open(box.path(sb.STUB_LOG), "rb")
        self.partial = b""

    def new(self):
        lines = (self.partial + self.file.read()).split(b"\n")
        self.partial = lines.pop()
        found = []
        for line in lines:
            if line.startswith(b"event 3 0 "):
                fields = line.split()
                found.append((int(fields[3]), int(fields[5][len(b"mono="):])))
        return found


# --- per-process cost, read from the sandbox's /proc ----------------------------

def cpu_ns(box, pid):
    """CPU time of every thread of `pid` (first field of schedstat, ns) and
    how often they were switched in."""
    run, slices = 0, 0
    for tid in os.listdir(box.path("/proc/%d/task" % pid)):
        fields = box.read("/proc/%d/task/%s/schedstat" % (pid, tid)).split()
        run += int(fields[0])
        slices += int(fields[2])
    return run, slices


def status_field(box, pid, name):
    for line in box.read("/proc/%d/status" % pid).splitlines():
        if line.startswith(name + ":"):
            return line.split()[1]
    raise KeyError(name)


def idle_cost(box, daemon, pause=time.sleep):
    """Daemon and floor loop side by side, nothing on the line or in the
    control file, for IDLE_SECONDS, which `pause` waits out."""
    box.write("/tmp/floor", "")
    floor_run = box.spawn([FLOOR_LOOP, "/tmp/floor", str(IDLE_SECONDS + 3)])
    floor = sb.wait_for(lambda: [p for p, name in box.processes() if name == "floor_loop"],
                        what="the floor loop")[0]
    time.sleep(0.5)
    start = time.monotonic_ns()
    before = {pid: cpu_ns(box, pid) for pid in (daemon, floor)}
    pause(IDLE_SECONDS)
    after = {pid: cpu_ns(box, pid) for pid in (daemon, floor)}
    wall = time.monotonic_ns() - start
    floor_run.wait(timeout=10)
    figures = {}
    for name, pid in (("daemon", daemon), ("floor", floor)):
        run = after[pid][0] - before[pid][0]
        slices = after[pid][1] - before[pid][1]
        figures[name] = {"percent": 100.0 * run / wall, "wakeups": slices * 1e9 / wall,
                         "per_wakeup_us": run / slices / 1e3 if slices else 0.0}
    return figures


# --- the touch path ---------------------------------------------------------------

def send_preamble(box):
    box.send(sim.SYNC_PREAMBLE)
    time.sleep(sim.SYNC_PAUSE)


def touch_latency(box, events, count):
    """Records sent one at a time, each once the one before has reached the
    device; ns from the record's last byte written to its ABS_X event."""
    latencies = []
    for i in range(count):
        x = (i * 37) % (sim.MAX_POSITION + 1)
        record = sim.encode_record(x, sim.MAX_POSITION - x, i % 2 == 0)
        assert os.write(box.master, record) == len(record)
        written = time.monotonic_ns()
        arrived = sb.wait_for(events.new, what="record %d on the device" % i)
        assert [value for value, _ in arrived] == [x], arrived
        latencies.append(arrived[0][1] - written)
        time.sleep(0.002)
    return latencies


def burst(box, events, count):
    """`count` records written as fast as the pty takes them; returns
    (records decoded, records lost, ns from the first byte written to the
    last ABS_X event)."""
    xs = [i % (sim.MAX_POSITION + 1) for i in range(count)]
    data = b"".join(sim.encode_record(x, 100, True) for x in xs)
    first_byte = time.monotonic_ns()
    box.send(data)
    arrived = []
    quiet_since = time.monotonic()
    while len(arrived) < count and time.monotonic() - quiet_since < 2.0:
        time.sleep(0.02)
        new = events.new()
        if new:
            arrived += new
            quiet_since = time.monotonic()
    assert [value for value, _ in arrived] == xs[:len(arrived)], "records out of order"
    return len(arrived), count - len(arrived), arrived[-1][1] - first_byte


def steady_stream(box, pid, events, count):
    """Records at the line's own pace, one every RECORD_NS as a finger held
    down sends them; the daemon's wake-ups (times its threads were switched
    in) per record."""
    before = cpu_ns(box, pid)[1]
    start = time.monotonic_ns()
    arrived = []
    for i in range(count):
        record = sim.encode_record(i % (sim.MAX_POSITION + 1), 100, True)
        time.sleep(max(0.0, (start + i * RECORD_NS - time.monotonic_ns()) / 1e9))
        os.write(box.master, record)
        arrived += events.new()
    def all_arrived():
        arrived.extend(events.new())
        return len(arrived) >= count
    sb.wait_for(all_arrived, what="the stream's last record")
    return (cpu_ns(box, pid)[1] - before) / count


# --- the backlight path -------------------------------------------------------------

def brightness_latency(box, count):
    """ns from writing a changed request into the control file to the
    command's last byte read on the line. Texts of one length overwrite
    each other in place, so no turn can catch the file half written."""
    requests = [(b"40\n", 12), (b"60\n", 18)]
    fd = os.open(box.path("/tmp/backlight"), os.O_WRONLY)
    latencies = []
    try:
        for i in range(count):
            text, level = requests[i % 2]
            os.pwrite(fd, text, 0)
            written = time.monotonic_ns()
            command = box.receive(sim.COMMAND_LENGTH)
            latencies.append(time.monotonic_ns() - written)
            assert command == sim.brightness_command(level), command
            # A random phase against the 1400 us poll.
            time.sleep(random.uniform(0.002, 0.005))
    finally:
        os.close(fd)
    return latencies


def screen_returns(box, count):
    """ns from the screen's dpms file saying On again to the command of
    level 15 (50 %) read on the line, each return at a random phase
    against the daemon's reads."""
    latencies = []
    for _ in range(count):
        box.set_screen(SCREEN, "Off")
        assert box.receive(sim.COMMAND_LENGTH, timeout=2) == sim.brightness_command(0)
        time.sleep(random.uniform(0.05, 0.35))
        box.set_screen(SCREEN, "On")
        back = time.monotonic_ns()
        assert box.receive(sim.COMMAND_LENGTH, timeout=2) == sim.brightness_command(15)
        latencies.append(time.monotonic_ns() - back)
    return latencies


# --- start-up -----------------------------------------------------------------------

def wait_readable(fds, timeout=10):
    ready = select.select(fds, [], [], timeout)[0]
    if not ready:
        raise AssertionError("start-up timed out")
    return ready


def one_startup():
    """(ns to the start-up command on the line, ns to "Daemon started" in
    the system log), both from launching the binary inside the sandbox."""
    box = sb.Sandbox()
    try:
        launched = time.monotonic_ns()
        foreground = box.spawn([sb.DAEMON], env=STUB_ENV)
        command_at = started_at = None
        line = b""
        while command_at is None or started_at is None:
            ready = wait_readable([box.master, box.log])
            now = time.monotonic_ns()
            if box.master in ready:
                line += os.read(box.master, 64)
                if command_at is None and len(line) >= sim.COMMAND_LENGTH:
                    command_at = now
            if box.log in ready:
                message = box.log.recv(65536).decode(errors="replace")
                if "Daemon started" in message:
                    started_at = now
        assert line.startswith(sim.STARTUP_COMMAND), line
        foreground.wait(timeout=10)
        # The stop request must come after the poller has emptied the file.
        control = box.path("/tmp/backlight")
        sb.wait_for(lambda: os.path.exists(control) and os.path.getsize(control) == 0,
                    what="the control file")
        box.stop_daemon()
        return command_at - launched, started_at - launched
    finally:
        box.close()


def launch_baselines():
    """Median ns, from launch to exit inside the sandbox, of /bin/true (what
    nsenter and exec cost) and of the single-instance guard's shell
    pipeline (which the daemon runs before anything else)."""
    box = sb.Sandbox()
    try:
        def median_run(argv):
            samples = []
            for _ in range(5):
                launched = time.monotonic_ns()
                box.spawn(argv).wait(timeout=10)
                samples.append(time.monotonic_ns() - launched)
            return statistics.median(samples)
        guard = "ps -eo pid,comm | grep quorinDaemon | grep -v 1"
        return median_run(["/bin/true"]), median_run(["/bin/sh", "-c", guard])
    finally:
        box.close()


# --- the decoder alone ---------------------------------------------------------------

def decoder_figures():
    out = os.path.join(sb.BUILD_DIR, "bench", "decoder.json")
    run = subprocess.run([DECODER_BENCH, "--benchmark_out=" + out, "--benchmark_out_format=json"],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    with open(out) as f:
        return {b["name"]: b for b in json.load(f)["benchmarks"]}


# --- the table -----------------------------------------------------------------------

# At most 511 characters per read, each read followed by the 1400 us pause.
BURST_CEILING = (511 // sim.RECORD_LENGTH) * 1e9 / READ_PAUSE_NS


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def print_table(rows):
    header = ("measure", "measured", "target", "set by the design")
    rows = [tuple(r) + ("",) * (4 - len(r)) for r in rows]
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(4)]
    for r in [header, None] + rows:
        if r is None:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        else:
            print("| " + " | ".join("%-*s" % (w, c) for w, c in zip(widths, r)) + " |")


def daemon_rows(latencies, idle, memory, burst_figures, brightness):
    p50, p99 = percentile(latencies, 0.5), percentile(latencies, 0.99)
    daemon, floor = idle["daemon"], idle["floor"]
    rss_kib, hwm_kib, threads = memory
    decoded, lost, burst_ns = burst_figures
    return [
        ("touch latency p50 (%d records)" % len(latencies), ms(p50), "<= 1.6 ms",
         "1.400 ms read pause"),
        ("touch latency p99", ms(p99), "<= 2.5 ms"),
        ("touch latency max", ms(max(latencies))),
        ("  beyond the pause p50 / p99",
         "%s / %s" % (ms(p50 - READ_PAUSE_NS), ms(p99 - READ_PAUSE_NS))),
        ("idle CPU, daemon (%d s)" % IDLE_SECONDS, "%.2f %% of a core" % daemon["percent"]),
        ("idle CPU, floor loop (pread + usleep(1400))", "%.2f %% of a core" % floor["percent"],
         "", "one poll per 1.4 ms"),
        ("  daemon / floor", "%.2f x" % (daemon["percent"] / floor["percent"]), "<= 1.2 x"),
        ("  wake-ups/s daemon / floor", "%.0f / %.0f" % (daemon["wakeups"], floor["wakeups"]),
         "", "at most %.0f/s" % POLL_HZ),
        ("  CPU per wake-up daemon / floor",
         "%.1f us / %.1f us" % (daemon["per_wakeup_us"], floor["per_wakeup_us"])),
        ("resident memory VmRSS (peak VmHWM)",
         "%.2f MiB (%.2f MiB)" % (rss_kib / 1024, hwm_kib / 1024), "<= 4 MiB"),
        ("threads", str(threads), "", "main, backlight, I/O"),
        ("burst: records/s (%d records)" % BURST_RECORDS, "%.0f" % (decoded * 1e9 / burst_ns),
         ">= 10,000", "at most %.0f/s" % BURST_CEILING),
        ("burst: records lost", str(lost), "0"),
        ("  first byte written to last event", ms(burst_ns)),
        ("brightness latency p50 (%d requests)" % len(brightness),
         ms(percentile(brightness, 0.5)), "", "poll every 1.4 ms"),
        ("brightness latency p99", ms(percentile(brightness, 0.99))),
    ]


def startup_rows(startups, baselines):
    launch_ns, guard_ns = baselines
    return [
        ("start-up: launch to start-up command (median of %d)" % len(startups),
         ms(statistics.median(s[0] for s in startups))),
        ("start-up: launch to \"Daemon started\"",
         ms(statistics.median(s[1] for s in startups))),
        ("  /bin/true, launched the same way", ms(launch_ns)),
        ("  the guard's sh + ps pipeline, launched the same way", ms(guard_ns), "",
         "guard runs ps via shell"),
    ]


def decoder_rows(decoder):
    labels = (("cleanLine/11", "decoder alone, clean line, 11-char reads"),
              ("cleanLine/511", "decoder alone, clean line, 511-char reads"),
              ("noisyLine/11", "decoder alone, 6 % broken, 11-char reads"),
              ("noisyLine/511", "decoder alone, 6 % broken, 511-char reads"))
    return [(label, "%.2f M records/s" % (decoder[name]["items_per_second"] / 1e6))
            for name, label in labels]


def measure_running_daemon():
    box = sb.Sandbox()
    try:
        box.start_ready()
        daemon = box.daemon_pid()
        idle = idle_cost(box, daemon)
        events = XEvents(box)
        send_preamble(box)
        latencies = touch_latency(box, events, LATENCY_RECORDS)
        burst_figures = burst(box, events, BURST_RECORDS)
        stream = steady_stream(box, daemon, events, STREAM_RECORDS)
        brightness = brightness_latency(box, BRIGHTNESS_REQUESTS)
        memory = (int(status_field(box, daemon, "VmRSS")), int(status_field(box, daemon, "VmHWM")),
                  len(os.listdir(box.path("/proc/%d/task" % daemon))))
        assert box.stop_daemon() == 0
    finally:
        box.close()
    return (daemon_rows(latencies, idle, memory, burst_figures, brightness),
            (idle["daemon"], brightness, False, latencies, burst_figures, stream, None))


def host_pid(spawned):
    """The daemon's pid outside the sandbox: the one child of the nsenter
    that started it."""
    children = "/proc/%d/task/%d/children" % (spawned.pid, spawned.pid)
    return int(sb.wait_for(lambda: open(children).read().split(), what="the daemon")[0])


def held_stop(box, spawned):
    """ns from SIGTERM to the daemon's exit while the line holds a
    brightness command back; None when it had not stopped after 5 s (the
    line is then let go, and the daemon killed if that does not help)."""
    box.hold_line()
    box.write("/tmp/backlight", "70\n")
    time.sleep(0.3)
    signalled = time.monotonic_ns()
    os.kill(host_pid(spawned), signal.SIGTERM)
    try:
        spawned.wait(timeout=5)
        return time.monotonic_ns() - signalled
    except subprocess.TimeoutExpired:
        box.hold_line(False)
        try:
            spawned.wait(timeout=5)
        except subprocess.TimeoutExpired:
            os.kill(host_pid(spawned), signal.SIGKILL)
            spawned.wait(timeout=5)
        return None


@contextlib.contextmanager
def notifications_read(box):
    """The service's notifications read meanwhile, as a service manager
    reads them: the status line's would fill the socket in ten seconds."""
    done = threading.Event()

    def read():
        while not done.is_set():
            box.notifications(0.1)
    reader = threading.Thread(target=read)
    reader.start()
    try:
        yield
    finally:
        done.set()
        reader.join()


def measure_service_mode():
    """--foreground with the unit's 5 s watchdog, following a screen: idle
    cost with the screen on and off, the backlight's return with the
    screen, the touch path, brightness latency and the stop with the line
    held."""
    box = sb.Sandbox(screens={SCREEN: "On"})
    try:
        # node-exporter's directory and the state directory, as on a
        # fleet's machine: the metrics file and the level are kept.
        os.makedirs(box.path("/var/lib/prometheus/node-exporter"))
        os.makedirs(box.path("/var/lib/quorindaemon"))
        spawned = box.start_foreground(env={"WATCHDOG_USEC": "5000000"})
        assert box.receive(sim.COMMAND_LENGTH) == sim.STARTUP_COMMAND
        box.notification("READY")
        # A notification socket nobody reads fills up, and the daemon's next
        # notification then blocks: read them as a service manager does.
        daemon = box.daemon_pid()
        box.write("/tmp/backlight", "50\n")
        assert box.receive(sim.COMMAND_LENGTH) == sim.brightness_command(15)
        idle = idle_cost(box, daemon, pause=box.notifications)
        with notifications_read(box):
            returns = screen_returns(box, SCREEN_RETURNS)
            box.set_screen(SCREEN, "Off")
            assert box.receive(sim.COMMAND_LENGTH, timeout=2) == sim.brightness_command(0)
        dark = idle_cost(box, daemon, pause=box.notifications)
        box.set_screen(SCREEN, "On")
        assert box.receive(sim.COMMAND_LENGTH, timeout=2) == sim.brightness_command(15)
        events = XEvents(box)
        with notifications_read(box):
            send_preamble(box)
            latencies = touch_latency(box, events, LATENCY_RECORDS)
            burst_figures = burst(box, events, BURST_RECORDS)
            stream = steady_stream(box, daemon, events, STREAM_RECORDS)
        brightness = brightness_latency(box, BRIGHTNESS_REQUESTS)
        box.notifications(0)
        stop = held_stop(box, spawned)
    finally:
        box.close()
    return (idle["daemon"], brightness, stop, latencies, burst_figures, stream,
            (dark["daemon"], returns))


def mode_rows(plain, service):
    """Both modes side by side: (idle figures, brightness latencies, stop,
    touch latencies, burst figures, wake-ups per record, and the screen's:
    idle figures while it is off and the backlight's returns)."""
    def cells(figures):
        idle, brightness, stop, latencies, burst_figures, stream, screen = figures
        held = "no signal handled" if stop is False else \
            "not after 5 s" if stop is None else ms(stop)
        dark = ("no screen followed",) * 3 if screen is None else \
            ("%.1f" % screen[0]["wakeups"], "%.3f %%" % screen[0]["percent"],
             "%s / %s" % (ms(percentile(screen[1], 0.5)), ms(max(screen[1]))))
        return ("%.1f" % idle["wakeups"], "%.3f %%" % idle["percent"], *dark,
                ms(percentile(latencies, 0.5)), ms(percentile(latencies, 0.99)),
                "%d lost" % burst_figures[1], "%.2f" % stream,
                ms(percentile(brightness, 0.5)), ms(percentile(brightness, 0.99)), held)
    labels = ("idle wake-ups/s (%d s), screen on" % IDLE_SECONDS, "idle CPU of one core, screen on",
              "idle wake-ups/s, screen off", "idle CPU of one core, screen off",
              "lit again after the screen, p50 / worst (%d)" % SCREEN_RETURNS,
              "touch latency p50 (%d records)" % LATENCY_RECORDS, "touch latency p99",
              "burst of %d records" % BURST_RECORDS,
              "wake-ups per record, %d at 9600 baud's pace" % STREAM_RECORDS,
              "brightness latency p50 (%d requests)" % BRIGHTNESS_REQUESTS,
              "brightness latency p99", "stop with the line held: SIGTERM to exit")
    return list(zip(labels, cells(plain), cells(service)))


def print_mode_table(rows):
    header = ("measure", "no arguments", "--foreground (watchdog 5 s, a screen followed)")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(3)]
    for r in [header, None] + rows:
        if r is None:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        else:
            print("| " + " | ".join("%-*s" % (w, c) for w, c in zip(widths, r)) + " |")


def main():
    load_before = load()
    rows, plain = measure_running_daemon()
    modes = mode_rows(plain, measure_service_mode())
    rows += startup_rows([one_startup() for _ in range(STARTUP_RUNS)], launch_baselines())
    rows += decoder_rows(decoder_figures())
    print()
    print("quorinDaemon benchmarks, %s, %d cores, kernel %s, load average %s before, %s after" % (
        time.strftime("%Y-%m-%d"), os.cpu_count(), platform.release(), load_before, load()))
    print_table(rows)
    print()
    print_mode_table(modes)
    print("A record is 11 characters x 11 bits at 9600 baud: 12.6 ms on the line.")
    print("The decoder's bad-record reports go to a stream that discards them.")


if __name__ == "__main__":
    main()
