"""Starts the daemon in the test sandbox, plays a tap as the controller
would, asks for a brightness level, stops it, and prints what happened."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "system"))
from sandbox import Sandbox  # noqa: E402


def record(x, y, touched):
    return b"\x1b!%03X%03X%s!t" % (x, y, b"0" if touched else b"1")


def main():
    box = Sandbox()
    try:
        box.start_ready()
        print("daemon started; the line got the start-up command")
        box.send(record(419, 4095, True))
        time.sleep(0.05)
        box.send(record(419, 4095, False))
        for x, y, touched in box.wait_touches(2):
            print("touch report: x=%d y=%d touched=%d" % (x, y, touched))
        box.write("/tmp/backlight", "50\n")
        print("brightness command on the line:", box.receive(5).hex(" "))
        print("stop: status", box.stop_daemon())
    finally:
        box.close()


if __name__ == "__main__":
    main()
