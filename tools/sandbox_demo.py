"""Starts the daemon in the test sandbox, plays a tap and a short drag as
the controller would, asks for a brightness level, stops it, and prints
what happened."""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "system"))
from sandbox import Sandbox  # noqa: E402
import quorin_sim as sim  # noqa: E402  (tools/ is on the path through sandbox)


def main():
    box = Sandbox()
    try:
        box.start_ready()
        print("daemon started; the line got the start-up command")
        box.send(sim.SYNC_PREAMBLE)
        time.sleep(sim.SYNC_PAUSE)
        samples = sim.tap(419, 4095) + sim.drag(100, 100, 400, 250, steps=4)
        box.send(b"".join(sim.encode_samples(samples)))
        for x, y, touched in box.wait_touches(len(samples)):
            print("touch report: x=%d y=%d touched=%d" % (x, y, touched))
        box.write("/tmp/backlight", "50\n")
        command = box.receive(5)
        print("command on the line for 50 %%: %s (%s)" % (sim.describe_command(command),
                                                          command.hex(" ")))
        print("stop: status", box.stop_daemon())
    finally:
        box.close()


if __name__ == "__main__":
    main()
