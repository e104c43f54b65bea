"""kestrane-scpid driven by pyvisa (pure-Python backend) against kestrane-sim."""
import os
import subprocess
import tempfile
import unittest

import pyvisa

from scpidprocesses import SCPID, Daemon, Simulator, wait_until


class PyvisaClient(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.link = os.path.join(self.directory.name, "generator")
        self.state = os.path.join(self.directory.name, "state.txt")
        self.simulator = Simulator(self.link, "--state", self.state)
        self.daemon = Daemon("--port", self.link)
        self.manager = pyvisa.ResourceManager("@py")
        self.instrument = self.manager.open_resource(
            self.daemon.resource, read_termination="\n", write_termination="\n", timeout=2000)

    def tearDown(self):
        self.instrument.close()
        self.manager.close()
        self.assertEqual(self.daemon.stop(), 0)
        self.simulator.stop()
        self.directory.cleanup()

    def test_sets_rounds_and_saves(self):
        fields = self.instrument.query("*IDN?").split(",")
        # A pseudo-terminal has no serial number: the stand-in.
        self.assertEqual(fields, ["Kestrane", "kestrane-scpid", "0", "1.0.0"])

        self.instrument.write("PULS1:TIM 0,5.621NS")
        self.instrument.write("SOURce:PULSe16:TIMing 5621PS,0")
        self.instrument.write("pulse2:timing 1e-9, 2000 ps")
        self.assertEqual(self.instrument.query("PULS1:TIM?"), "0.000E+00,5.621E-09")
        self.assertEqual(self.instrument.query("PULS16:DEL?;WIDT?"), "5.621E-09;0.000E+00")
        self.assertEqual(self.instrument.query("PULS2:TIM?"), "1.001E-09,2.002E-09")
        self.assertEqual(self.instrument.query("PULS3:TIM?"), "9.91E37,9.91E37")

        self.instrument.write("PULS16:TIM 5621PS,11PS")
        self.assertTrue(self.instrument.query("SYST:ERR?").startswith("-222,"))
        self.instrument.write("PULS3:DEL 1NS")
        self.assertIn("TIMing", self.instrument.query("SYST:ERR?"))

        self.instrument.write("*SAV 0")
        self.assertEqual(self.instrument.query("*OPC?"), "1")
        self.assertEqual(self.instrument.query("SYST:REPL?"), '"OK\\r\\n"')
        self.assertEqual(self.instrument.query("SYST:ERR?"), '0,"No error"')

        self.assertEqual(self.simulator.logged("frame"),
                         ["01000511", "16511000", "02091182", "SAV"])
        with open(self.state) as saved:
            channels = [line.split() for line in saved if not line.startswith("#")]
        expected = [[str(n), "0", "0"] for n in range(1, 17)]
        expected[0] = ["1", "0", "511"]
        expected[1] = ["2", "91", "182"]
        expected[15] = ["16", "511", "0"]
        self.assertEqual(channels, expected)

    def test_overlong_line_is_dropped_with_223(self):
        client = self.daemon.connect()
        client.send("*OPC?;" + "A" * 70000 + ";*OPC?")
        self.assertTrue(client.query("SYST:ERR?").startswith("-223,"))
        self.assertEqual(client.query("*OPC?"), "1")
        client.close()

    def test_clients_beyond_the_limit_are_turned_away(self):
        self.instrument.close()
        self.assertEqual(self.daemon.stop(), 0)
        self.daemon = Daemon("--port", self.link, "--max-clients", "2")
        self.instrument = self.manager.open_resource(
            self.daemon.resource, read_termination="\n", write_termination="\n", timeout=2000)
        second = self.daemon.connect()
        third = self.daemon.connect()
        self.assertIn("too many clients", third.line())
        self.assertEqual(third.line(), "")
        third.close()
        # One that leaves before its command has run harms nobody; the command runs.
        second.send("*RST;*OPC?")
        second.close()
        self.assertEqual(self.instrument.query("*OPC?"), "1")
        self.assertTrue(wait_until(
            lambda: self.instrument.query("PULS16:TIM?") == "0.000E+00,0.000E+00", 2))
        self.assertEqual(len(self.simulator.logged("frame")), 16)
        replacement = self.daemon.connect()
        self.assertEqual(replacement.query("*OPC?"), "1")
        replacement.close()


class CommandLine(unittest.TestCase):
    def run_daemon(self, *arguments):
        return subprocess.run([SCPID, *arguments], capture_output=True, text=True, timeout=10)

    def test_exit_codes(self):
        self.assertEqual(self.run_daemon("--help").returncode, 0)
        self.assertIn("127.0.0.1", self.run_daemon("--help").stdout)
        for usage_error in (["--tcp-port", "0"], ["--max-clients", "x"], ["--listen", "nowhere"],
                            ["--reply-timeout", "-1"], ["extra"]):
            self.assertEqual(self.run_daemon(*usage_error).returncode, 2, usage_error)
        not_a_terminal = self.run_daemon("--port", "/dev/null", "--tcp-port", "1")
        self.assertEqual(not_a_terminal.returncode, 1)
        self.assertIn("/dev/null is not a terminal device", not_a_terminal.stderr)
        self.assertEqual(self.run_daemon("--port", os.path.abspath(__file__)).returncode, 1)


if __name__ == "__main__":
    unittest.main()
