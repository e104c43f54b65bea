"""kestrane-tango driven by Debian's python3-tango against kestrane-sim.

Usage: tst_tangoserver.py SERVER SIMULATOR
"""
import os
import socket
import subprocess
import sys
import tempfile
import time

import tango

DEVICE = "lab/kestrane/1"
STATE_HEADER = "# Pulse generator state: channel, delay and width in 11 ps steps\n"


def fail(message):
    raise AssertionError(message)


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            fail(f"{what} within {seconds} s")
        time.sleep(0.02)


class Simulator:
    def __init__(self, directory, link):
        self.log_path = os.path.join(directory, f"sim-{time.monotonic_ns()}.log")
        self.log = open(self.log_path, "w")
        self.state = os.path.join(directory, "state")
        self.process = subprocess.Popen(
            [sys.argv[2], "--state", self.state, "--link", link, "--verbose"],
            stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.process.stdout.readline()  # the device end: the link exists now

    def frames(self):
        with open(self.log_path) as log:
            return [line.split()[2] for line in log if line.startswith("kestrane-sim: frame ")]

    def stop(self):
        self.process.terminate()
        self.process.wait(5)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def listens(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def connect(address):
    """The device once it answers a ping; in file database mode the port
    listens before the device is exported."""
    device = None

    def answers():
        nonlocal device
        try:
            device = tango.DeviceProxy(address)
            device.ping()
            return True
        except tango.DevFailed:
            return False

    wait_until(answers, 5, "the device did not answer")
    return device


def refused(action, reason, *words):
    try:
        action()
    except tango.DevFailed as error:
        found = error.args[0]
        text = found.reason + " " + found.desc
        if found.reason != reason or not all(word in text for word in words):
            fail(f"refused as {text!r}, expected {reason} with {words}")
        return
    fail(f"not refused (expected {reason})")


def check_equal(found, expected, what):
    if found != expected:
        fail(f"{what}: {found!r}, expected {expected!r}")


def main():
    with tempfile.TemporaryDirectory(prefix="kestrane-tango-") as directory:
        run(directory)
    print("kestrane-tango: all checks passed")


def run(directory):
    link = os.path.join(directory, "generator")
    port = free_port()
    database = os.path.join(directory, "devices.db")
    with open(database, "w") as file:
        file.write(f'kestrane-tango/test/DEVICE/KestranePulseGenerator: "{DEVICE}"\n'
                   f'{DEVICE}->Port: "{link}"\n'
                   f"{DEVICE}->ReplyTimeout: 100\n")

    simulator = Simulator(directory, link)
    server = subprocess.Popen([sys.argv[1], "test", f"-file={database}",
                               "-ORBendPoint", f"giop:tcp:127.0.0.1:{port}"])
    try:
        wait_until(lambda: listens(port), 10, "the server did not listen")
        device = connect(f"tango://127.0.0.1:{port}/{DEVICE}#dbase=no")
        wait_until(lambda: device.state() == tango.DevState.ON, 2, "not ON with the simulator")

        # Nothing is known before this server sets a channel.
        check_equal(device.read_attribute("channel1Delay").quality,
                    tango.AttrQuality.ATTR_INVALID, "channel 1 delay before any set")
        refused(lambda: device.write_attribute("channel1Delay", 11), "ValueUnknown", "SetChannel")

        events = []
        device.subscribe_event("channel16Delay", tango.EventType.CHANGE_EVENT,
                               lambda event: events.append(event))

        # Both edges of the budget, then single values rounded to the step.
        device.SetChannel([1, 0, 5621])
        device.SetChannel([16, 5621, 0])
        device.write_attribute("channel1Width", 2000.4)
        device.write_attribute("channel1Delay", 5.5)
        device.write_attribute("channel16Delay", 5615.4)
        read_back = [device.read_attribute(name).value for name in
                     ("channel1Delay", "channel1Width", "channel16Delay", "channel16Width")]
        check_equal(read_back, [11.0, 2002.0, 5610.0, 0.0], "values read back")
        sent = ["01000511", "16511000", "01000182", "01001182", "16510000"]
        check_equal(simulator.frames(), sent, "frames sent")

        # Refused, with nothing sent.
        refused(lambda: device.SetChannel([16, 3000, 3000]), "BudgetExceeded", "546 steps")
        refused(lambda: device.write_attribute("channel1Delay", 5621), "BudgetExceeded")
        refused(lambda: device.write_attribute("channel1Width", 5621.5), "API_WAttrOutsideLimit")
        refused(lambda: device.write_attribute("channel16Width", -1), "API_WAttrOutsideLimit")
        refused(lambda: device.SetChannel([17, 0, 0]), "API_IncompatibleCmdArgumentType")
        check_equal(simulator.frames(), sent, "frames after the refusals")

        wait_until(lambda: any(event.attr_value is not None and event.attr_value.value == 5610.0
                               for event in events), 2, "no change event for channel 16")

        device.Save()
        wait_until(lambda: simulator.frames()[-1:] == ["SAV"], 2, "SAV not received")
        lines = {1: "1 1 182", 16: "16 510 0"}
        expected = STATE_HEADER + "".join(lines.get(n, f"{n} 0 0") + "\n" for n in range(1, 17))
        with open(simulator.state) as state:
            check_equal(state.read(), expected, "state file")

        # The generator hangs up: noticed without a client asking.
        simulator.stop()
        time.sleep(1.5)
        check_equal(device.state(), tango.DevState.FAULT, "state 1.5 s after the hang-up")
        if link not in device.status():
            fail(f"status does not name the link: {device.status()!r}")
        refused(lambda: device.Save(), "LinkDown")

        simulator = Simulator(directory, link)
        wait_until(lambda: device.state() == tango.DevState.ON, 3, "not back ON")
        check_equal(device.read_attribute("channel1Delay").quality,
                    tango.AttrQuality.ATTR_INVALID, "channel 1 delay after reconnecting")
        device.SetChannel([1, 11, 22])
        check_equal(simulator.frames(), ["01001002"], "frames after reconnecting")

        admin = tango.DeviceProxy(f"tango://127.0.0.1:{port}/dserver/kestrane-tango/test#dbase=no")
        admin.command_inout("Kill")
        check_equal(server.wait(5), 0, "exit code after Kill")
    finally:
        if server.poll() is None:
            server.kill()
        simulator.stop()


if __name__ == "__main__":
    main()
