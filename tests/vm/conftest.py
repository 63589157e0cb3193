import os
import sys
import time

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from debian_guest import DEFAULT_SUITE  # noqa: E402
from guest import SUMMARY, Guest, build_arch, missing_tools  # noqa: E402

BUILD_DIR = os.path.abspath(os.environ.get("QUORIN_BUILD_DIR", "build-vm"))
# QUORIN_BOARD=raspi3b: the suite on qemu's Raspberry Pi 3 B instead, its
# PL011 on GPIO 14/15 by the shipped overlay, on QUORIN_SUITE's kernel.
BOARD = os.environ.get("QUORIN_BOARD")
# CTest's SKIP_RETURN_CODE for this suite: a run that proved nothing
# must not read as passed.
SKIPPED = 77
figures = {}
skipped = []


@pytest.fixture(scope="session")
def guest():
    """One guest for the whole suite: its tests run in file order on it.
    Its architecture is that of the build directory's daemon."""
    arch = build_arch(BUILD_DIR)
    missing = missing_tools(arch, BOARD)
    if missing:
        pytest.skip("no %s qemu guest on this host: %s missing (scripts/install-deps %s)"
                    % (arch, ", ".join(missing), "vm" if arch == "amd64" else arch))
    started = time.monotonic()
    machine = Guest(BUILD_DIR, arch, os.environ.get("QUORIN_SUITE"), BOARD,
                    "pl011-gpio14" if BOARD else None)
    figures["kernel"] = machine.abi + (" on " + BOARD if BOARD else "")
    figures["boot"] = machine.boot_seconds
    yield machine
    machine.close()
    figures["suite"] = time.monotonic() - started


def pytest_configure(config):
    config.addinivalue_line("markers", "releases(*names): only on these Debian releases")


def pytest_collection_modifyitems(config, items):
    """A test of what one release alone has is left out on the others:
    not run there is not a skip that would fail the stage."""
    suite = os.environ.get("QUORIN_SUITE") or DEFAULT_SUITE
    kept, left_out = [], []
    for item in items:
        marker = item.get_closest_marker("releases")
        (left_out if marker and suite not in marker.args else kept).append(item)
    if left_out:
        config.hook.pytest_deselected(items=left_out)
        items[:] = kept


def pytest_runtest_logreport(report):
    if report.skipped:
        skipped.append(report.nodeid)


def pytest_sessionfinish(session, exitstatus):
    if exitstatus == pytest.ExitCode.OK and skipped:
        session.exitstatus = SKIPPED


def pytest_terminal_summary(terminalreporter):
    for line in SUMMARY:
        terminalreporter.write_line(line)
    if "boot" in figures:
        accel = "KVM" if os.environ.get("QUORIN_VM_KVM") == "1" else "TCG"
        terminalreporter.write_line(
            "guest %s (%s): booted in %.1f s, whole guest session %.1f s"
            % (figures["kernel"], accel, figures["boot"], figures.get("suite", 0)))
