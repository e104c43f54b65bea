"""kestrane-epics driven by EPICS Base's pvget, pvput, pvmonitor and pvinfo
against kestrane-sim.

CTest names the server in KESTRANE_EPICS_SERVER, points the clients at
127.0.0.1 only (EPICS_PVA_ADDR_LIST) and puts the daemon tests' process
helpers on PYTHONPATH.
"""
import os
import queue
import signal
import subprocess
import tempfile
import threading
import time
import unittest

from scpidprocesses import Simulator, read_log, wait_until

SERVER = os.environ["KESTRANE_EPICS_SERVER"]
STATE_HEADER = "# Pulse generator state: channel, delay and width in 11 ps steps\n"
TERMINATION = {signal.SIGINT, signal.SIGTERM}


def block_termination():
    """In the child before exec: a signal sent before main is ready waits."""
    signal.pthread_sigmask(signal.SIG_BLOCK, TERMINATION)


class Server:
    """kestrane-epics on the simulator's link; `ports` moves it off the
    default TCP and UDP ports, for a second server beside the first."""

    def __init__(self, link, *arguments, ports=None, **popen):
        self.errors = tempfile.NamedTemporaryFile()
        environment = dict(os.environ)
        self.client_environment = dict(os.environ)
        if ports:
            tcp, udp = ports
            environment.update(EPICS_PVAS_SERVER_PORT=str(tcp), EPICS_PVAS_BROADCAST_PORT=str(udp))
            self.client_environment.update(EPICS_PVA_ADDR_LIST=f"127.0.0.1:{udp}")
        self.process = subprocess.Popen([SERVER, "--port", link, *arguments], stderr=self.errors,
                                        env=environment, **popen)

    def wait_serving(self):
        if not wait_until(lambda: "serving " in self.log() or self.process.poll() is not None,
                          5) or self.process.poll() is not None:
            raise RuntimeError("kestrane-epics did not start: " + self.log())
        return self

    def stop(self, signal_number=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(signal_number)
        return self.process.wait(5)

    def log(self):
        return read_log(self.errors)

    def run(self, tool, *arguments):
        """An EPICS client for this server: its exit code and its output."""
        done = subprocess.run([tool, "-w", "5", *arguments], capture_output=True, text=True,
                              env=self.client_environment, timeout=30)
        return done.returncode, done.stdout + done.stderr

    def get(self, *names):
        code, output = self.run("pvget", *names)
        if code != 0:
            raise AssertionError(output)
        return output

    def monitor(self, name):
        return Monitor(name, self.client_environment)


class Monitor:
    """pvmonitor on one variable; its lines with their arrival times."""

    def __init__(self, name, environment):
        self.process = subprocess.Popen(["pvmonitor", name], stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, env=environment)
        self.lines = queue.Queue()
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.process.stdout:
            self.lines.put((time.monotonic(), line))

    def next_with(self, text, timeout_s=5):
        """The first line from now on that holds `text`, and when it came."""
        deadline = time.monotonic() + timeout_s
        while True:
            try:
                arrived, line = self.lines.get(timeout=max(0, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError(f"pvmonitor showed no line with {text!r}")
            if text in line:
                return arrived, line

    def stop(self):
        self.process.terminate()
        self.process.wait(5)
        self.process.stdout.close()


class EpicsClients(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.link = os.path.join(self.directory.name, "generator")
        self.state = os.path.join(self.directory.name, "state.txt")
        self.simulator = Simulator(self.link, "--state", self.state)
        self.servers = []
        self.server = self.start_server()

    def start_server(self, *arguments):
        server = Server(self.link, *arguments)
        self.servers.append(server)
        return server.wait_serving()

    def tearDown(self):
        for server in self.servers:
            if server.process.poll() is None:
                server.process.kill()
                server.process.wait()
        self.simulator.stop()
        self.directory.cleanup()

    def frames(self):
        return self.simulator.logged("frame")

    def assertPutRefused(self, name, value, *reasons):
        code, output = self.server.run("pvput", name, value)
        self.assertNotEqual(code, 0, output)
        for reason in reasons:
            self.assertIn(reason, output)

    def test_types_units_and_unknown_channels(self):
        code, output = self.server.run("pvinfo", "KESTRANE:CH03:DELAY", "KESTRANE:CH03:TIMING",
                                       "KESTRANE:LINK", "KESTRANE:SAVE")
        self.assertEqual(code, 0, output)
        types = [line.strip() for line in output.splitlines() if line.startswith("    epics:nt/")]
        self.assertEqual(types, ["epics:nt/NTScalar:1.0", "epics:nt/NTScalarArray:1.0",
                                 "epics:nt/NTEnum:1.0", "epics:nt/NTScalar:1.0"])
        for field in ("double value", "double[] value", "enum_t value", "int value"):
            self.assertIn(field, output)
        described = self.server.get("-v", "KESTRANE:CH16:WIDTH")
        for line in ("string units ps", "double limitHigh 5621", "string format %.0f",
                     "double minStep 11", 'string description "Channel 16 width"'):
            self.assertIn(line, described)
        # Nothing is known before this server sets a channel: no made-up 0.
        unknown = self.server.get("KESTRANE:CH03:DELAY", "KESTRANE:CH03:TIMING")
        self.assertEqual(unknown.count("INVALID UNDEFINED unknown until set"), 2, unknown)
        self.assertIn("nan", unknown)
        self.assertIn("(1) up", self.server.get("KESTRANE:LINK"))

    def test_timing_goes_out_in_one_frame_and_reads_back_rounded(self):
        code, output = self.server.run("pvput", "KESTRANE:CH03:TIMING", "[1000,2000]")
        self.assertEqual(code, 0, output)
        self.assertEqual(self.frames(), ["03091182"])
        values = self.server.get("KESTRANE:CH03:DELAY", "KESTRANE:CH03:WIDTH",
                                 "KESTRANE:CH03:TIMING")
        self.assertEqual([line.split()[-1] for line in values.splitlines()
                          if line.startswith("KESTRANE:")], ["1001", "2002", "[1001,2002]"])
        code, output = self.server.run("pvput", "KESTRANE:CH03:DELAY", "0")
        self.assertEqual(code, 0, output)
        self.assertEqual(self.frames(), ["03091182", "03000182"])

    def test_refused_puts_name_the_reason_and_send_nothing(self):
        self.server.run("pvput", "KESTRANE:CH03:TIMING", "[1000,2000]")
        unsent = "nothing was sent"
        cases = [
            ("KESTRANE:CH03:DELAY", "5000", "over the budget", "637 steps", unsent),
            ("KESTRANE:CH03:TIMING", "[3000,3000]", "over the budget", unsent),
            ("KESTRANE:CH03:WIDTH", "5622", "out of range", "width 5622 ps", unsent),
            ("KESTRANE:CH03:DELAY", "-1", "out of range", unsent),
            ("KESTRANE:CH03:TIMING", "[1,2,3]", "two numbers"),
            ("KESTRANE:CH04:DELAY", "60", "width of channel 4 is unknown", "TIMING", unsent),
            ("KESTRANE:SAVE", "2", "put 1"),
            ("KESTRANE:LINK", "0", "read only"),
        ]
        for name, value, *reasons in cases:
            with self.subTest(name=name, value=value):
                self.assertPutRefused(name, value, *reasons)
        self.assertEqual(self.frames(), ["03091182"])

    def test_save_and_reset(self):
        self.server.run("pvput", "KESTRANE:CH01:TIMING", "[11,182]")
        code, output = self.server.run("pvput", "KESTRANE:SAVE", "1")
        self.assertEqual(code, 0, output)
        self.assertEqual(self.frames(), ["01001017", "SAV"])
        with open(self.state) as saved:
            self.assertEqual(saved.read(), STATE_HEADER + "1 1 17\n" + "".join(
                    f"{n} 0 0\n" for n in range(2, 17)))
        code, output = self.server.run("pvput", "KESTRANE:RESET", "1")
        self.assertEqual(code, 0, output)
        self.assertEqual(self.frames()[2:], [f"{n:02}000000" for n in range(1, 17)])
        self.assertIn("[0,0]", self.server.get("KESTRANE:CH16:TIMING"))

    def test_labels_and_a_restart_that_restores_the_last_settings(self):
        code, output = self.server.run("pvput", "KESTRANE:CH03:LABEL", "camera gate")
        self.assertEqual(code, 0, output)
        self.assertIn("camera gate", self.server.get("KESTRANE:CH03:LABEL"))
        self.assertPutRefused("KESTRANE:CH03:LABEL", "x" * 33, "at most 32 characters")
        self.assertIn("camera gate", self.server.get("KESTRANE:CH03:LABEL"))
        self.server.run("pvput", "KESTRANE:CH03:TIMING", "[1000,2000]")
        self.assertEqual(self.server.stop(), 0)

        restarted = self.start_server("--restore", "last")
        self.assertTrue(wait_until(lambda: self.frames()[-1:] == ["03091182"], 5), self.frames())
        self.assertEqual(self.frames(), ["03091182", "03091182"])
        self.assertIn("1001", restarted.get("KESTRANE:CH03:DELAY"))
        self.assertIn("camera gate", restarted.get("KESTRANE:CH03:LABEL"))
        journal = subprocess.run(
            ["sqlite3", os.path.join(os.environ["XDG_STATE_HOME"], "kestrane", "record.sqlite"),
             "SELECT client, frame, outcome FROM journal WHERE generator IN "
             f"(SELECT id FROM generators WHERE port = '{self.link}')"],
            capture_output=True, text=True, timeout=10).stdout
        self.assertEqual(journal, "epics|03091182|ok\nrestore|03091182|ok\n", restarted.log())

    def test_monitor_sees_another_clients_setting_and_the_links_loss(self):
        monitor = self.server.monitor("KESTRANE:CH03:DELAY")
        try:
            monitor.next_with("unknown until set")
            code, output = self.server.run("pvput", "KESTRANE:CH03:TIMING", "[550,110]")
            put_done = time.monotonic()
            self.assertEqual(code, 0, output)
            arrived, line = monitor.next_with(" 550")
            self.assertLess(arrived - put_done, 0.1, line)

            self.simulator.stop()
            arrived, line = monitor.next_with("INVALID")
            self.assertIn("no link to the generator", line)
            self.assertIn("nan", line)
            self.assertIn("(0) down", self.server.get("KESTRANE:LINK"))
        finally:
            monitor.stop()

    def test_second_server_on_the_same_generator_waits_for_it(self):
        # Under another name: the device's own lock, not a lock file, stops it.
        other_name = os.path.join(self.directory.name, "same-generator")
        os.symlink(os.readlink(self.link), other_name)
        second = Server(other_name, "--prefix", "OTHER:", ports=(15075, 15076)).wait_serving()
        self.servers.append(second)
        self.assertTrue(wait_until(lambda: "in use by another program" in second.log(), 5),
                        second.log())
        link = second.get("OTHER:LINK")
        self.assertIn("(0) down", link)
        self.assertIn("in use by another program", link)
        code, output = second.run("pvput", "OTHER:CH01:TIMING", "[11,22]")
        self.assertNotEqual(code, 0, output)
        self.assertIn("no link to the generator", output)
        self.assertEqual(self.frames(), [])

        self.assertEqual(self.server.stop(), 0)
        self.assertTrue(wait_until(lambda: "(1) up" in second.get("OTHER:LINK"), 5))
        code, output = second.run("pvput", "OTHER:CH01:TIMING", "[11,22]")
        self.assertEqual(code, 0, output)
        self.assertEqual(self.frames(), ["01001002"])
        self.assertIsNone(second.process.poll())

    def test_signals_at_any_moment_of_start_up_exit_0(self):
        self.server.stop()
        for attempt, signal_number in enumerate([signal.SIGINT, signal.SIGTERM] * 6):
            with self.subTest(attempt=attempt, signal=signal_number):
                server = Server(self.link, preexec_fn=block_termination)
                self.servers.append(server)
                time.sleep(attempt * 0.03)
                self.assertEqual(server.stop(signal_number), 0, server.log())

    def test_signals_with_a_client_connected_exit_0(self):
        self.server.stop()
        for signal_number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=signal_number):
                server = self.start_server()
                monitor = server.monitor("KESTRANE:CH05:WIDTH")
                try:
                    monitor.next_with("unknown until set")
                    self.assertEqual(server.stop(signal_number), 0, server.log())
                finally:
                    monitor.stop()

    def test_usage_errors_exit_2(self):
        for arguments in (["--prefix", "A B"], ["--listen", "localhost"],
                          ["--listen", "::1"], ["--reply-timeout", "0"], ["extra"]):
            with self.subTest(arguments=arguments):
                done = subprocess.run([SERVER, "--port", self.link, *arguments],
                                      capture_output=True, text=True, timeout=10)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertIn("kestrane-epics: ", done.stderr)


if __name__ == "__main__":
    unittest.main()
