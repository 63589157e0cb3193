import pytest

from sandbox import Sandbox


@pytest.fixture
def sandbox():
    box = Sandbox()
    yield box
    box.close()


@pytest.fixture
def daemon(sandbox):
    """A daemon started and ready: the start-up command is on the line."""
    result = sandbox.start_daemon()
    assert result.returncode == 0, result
    assert sandbox.receive(5) == b"\x1b@s\x00\x00"
    sandbox.wait_syslog("Daemon started")
    return sandbox
