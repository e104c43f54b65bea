"""What clients written elsewhere see: batches from socat and nc that close
their sending side, pipelined input far larger than any buffer, two pyvisa
sessions on one channel, and a generator slower than the reply timeout."""
import os
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import pyvisa

from scpidprocesses import Daemon, Simulator


def batch(client, port, text):
    """What a command-line client prints for the lines piped into it."""
    return subprocess.run([*client, "127.0.0.1", str(port)] if client[0] == "nc" else
                          [*client, f"TCP:127.0.0.1:{port}"],
                          input=text.encode(), capture_output=True, timeout=10).stdout.decode()


class Clients(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)
        self.link = os.path.join(self.directory.name, "generator")

    def start(self, simulator=(), daemon=()):
        self.simulator = Simulator(self.link, *simulator)
        self.addCleanup(self.simulator.stop)
        self.daemon = Daemon("--port", self.link, *daemon)
        self.addCleanup(lambda: self.assertEqual(self.daemon.stop(), 0))

    def test_half_closed_batches_get_every_answer(self):
        self.start()
        lines = "PULS3:TIM 1NS,2NS;*OPC?\nPULS3:TIM?\n*SAV 0;*OPC?\nSYST:ERR:COUN?\n"
        expected = "1\n1.001E-09,2.002E-09\n1\n0\n"
        for client in (["socat", "-"], ["nc", "-N"]):
            for attempt in range(20):
                self.assertEqual(batch(client, self.daemon.tcp_port, lines), expected,
                                 f"{client[0]}, attempt {attempt}")

    def test_pipelined_input_runs_every_line(self):
        self.start()
        client = self.daemon.connect()
        # 92 KB: more than the daemon holds of a client's input.
        settings = "".join(f"SOURce:PULSe{n % 16 + 1}:TIMing {n % 200}PS,{n % 300}PS\n"
                           for n in range(2400))
        client.stream.write((settings + "*OPC?\n").encode())
        client.stream.flush()
        self.assertEqual(client.line(), "1\n")
        self.assertEqual(len(self.simulator.logged("frame")), 2400)

        # A reader that starts late: TCP holds the client back, nothing is lost.
        count = 100000
        query = b"SYSTem:ERRor:COUNt?\n"
        writer = threading.Thread(target=lambda: (client.stream.write(query * count),
                                                  client.stream.flush()))
        writer.start()
        time.sleep(1)
        answers = sum(1 for _ in range(count) if client.line() == "0\n")
        writer.join(30)
        self.assertEqual(answers, count)
        client.close()

    def test_a_query_follows_another_client_s_setting(self):
        self.start(simulator=("--reply-delay", "150"))
        manager = pyvisa.ResourceManager("@py")
        first, second = (manager.open_resource(self.daemon.resource, read_termination="\n",
                                               write_termination="\n", timeout=2000)
                         for _ in range(2))
        try:
            first.write("PULS12:TIM 1NS,2NS")
            time.sleep(0.02)
            self.assertEqual(second.query("PULS12:TIM?"), "1.001E-09,2.002E-09")
        finally:
            first.close()
            second.close()
            manager.close()

    def test_late_reply_stays_with_its_frame(self):
        # The simulator's state file lies in a folder that does not exist: SAV answers ERR.
        state = os.path.join(self.directory.name, "missing", "state.txt")
        self.start(simulator=("--reply-delay", "600", "--state", state),
                   daemon=("--reply-timeout", "400"))
        client = self.daemon.connect()
        client.send("PULS1:TIM 1NS,1NS")
        client.send("*SAV 0")
        self.assertEqual(client.query("*OPC?"), "1")
        time.sleep(1)  # the SAV's own late reply
        self.assertEqual(client.query("SYST:ERR:ALL?"), '0,"No error"')
        self.assertIn('late reply to "SAV" "ERR\\r\\n"', self.daemon.log())
        self.assertIn('late reply to "01091091" "OK\\r\\n"', self.daemon.log())
        self.assertNotIn("unsolicited", self.daemon.log())
        client.close()

    def test_refusal_is_an_error(self):
        state = os.path.join(self.directory.name, "missing", "state.txt")
        self.start(simulator=("--state", state))
        client = self.daemon.connect()
        self.assertEqual(client.query("*SAV 0;*OPC?"), "1")
        self.assertEqual(client.query("*ESR?;SYST:ERR?"),
                         '8;-300,"Device-specific error;the generator answered ERR to SAV"')
        client.close()


if __name__ == "__main__":
    unittest.main()
