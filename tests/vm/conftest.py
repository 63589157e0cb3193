import os
import sys
import time

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from guest import Guest, missing_tools  # noqa: E402

BUILD_DIR = os.path.abspath(os.environ.get("QUORIN_BUILD_DIR", "build-vm"))
figures = {}


@pytest.fixture(scope="session")
def guest():
    """One guest for the whole suite: its tests run in file order on it."""
    missing = missing_tools()
    if missing:
        pytest.skip("no qemu guest on this host: %s missing (scripts/install-deps vm)"
                    % ", ".join(missing))
    started = time.monotonic()
    machine = Guest(BUILD_DIR)
    figures["kernel"] = machine.abi
    figures["boot"] = machine.boot_seconds
    yield machine
    machine.close()
    figures["suite"] = time.monotonic() - started


def pytest_terminal_summary(terminalreporter):
    if "boot" in figures:
        accel = "KVM" if os.environ.get("QUORIN_VM_KVM") == "1" else "TCG"
        terminalreporter.write_line(
            "guest %s (%s): booted in %.1f s, whole guest session %.1f s"
            % (figures["kernel"], accel, figures["boot"], figures.get("suite", 0)))
