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
    sandbox.start_ready()
    return sandbox
