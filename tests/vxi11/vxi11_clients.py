"""kestrane-scpid over VXI-11, driven by Debian's pyvisa-py and lxi-tools,
in a network namespace of the test's own (tests/support/isolated-network.sh)
with a portmapper started here and ended by its pid."""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import pyvisa

from scpidprocesses import Daemon, Portmapper, Simulator, registered_programs, wait_until

INSTR = "TCPIP::127.0.0.1::inst0::INSTR"
STATE_HEADER = "# Pulse generator state: channel, delay and width in 11 ps steps\n"
STALL_S = 5  # the daemon's bound for a stalled connection


class Vxi11(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.portmapper = Portmapper()

    @classmethod
    def tearDownClass(cls):
        cls.portmapper.stop()

    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.link = os.path.join(directory.name, "generator")
        self.state = os.path.join(directory.name, "state.txt")

    def start(self, *simulator, daemon=()):
        self.simulator = Simulator(self.link, "--state", self.state, *simulator)
        self.addCleanup(self.simulator.stop)
        self.daemon = Daemon("--port", self.link, *daemon)
        self.addCleanup(lambda: self.assertEqual(self.daemon.stop(), 0))
        self.manager = pyvisa.ResourceManager("@py")
        self.addCleanup(self.manager.close)

    def open(self, timeout=2000):
        instrument = self.manager.open_resource(INSTR, read_termination="\n",
                                                write_termination="\n", timeout=timeout)
        self.addCleanup(instrument.close)
        return instrument

    def test_instrument_resource(self):
        self.start()
        instrument = self.open()
        self.assertEqual(instrument.query("*IDN?").split(",")[:2], ["Kestrane", "kestrane-scpid"])
        instrument.write("PULS1:TIM 0,5.621NS")
        instrument.write("PULSe16:TIMing 5621PS,0")
        self.assertEqual(instrument.query("PULS1:TIM?;:PULS16:TIM?"),
                         "0.000E+00,5.621E-09;5.621E-09,0.000E+00")
        instrument.write("PULS2:TIM 1NS,2NS;BOGUS")
        self.assertEqual(instrument.query("*OPC?"), "1")
        self.assertEqual(instrument.read_stb(), 4)  # an error is queued
        instrument.write("PULS2:TIM?")  # answered once the generator's last reply is in
        self.assertTrue(wait_until(lambda: instrument.read_stb() == 4 | 16, 2))  # an answer waits
        instrument.clear()
        self.assertEqual(instrument.read_stb(), 4)  # the answer is gone, the error is not
        self.assertEqual(instrument.query("SYST:ERR?"), '-113,"Undefined header;BOGUS"')
        instrument.write("*SAV 0")
        self.assertEqual(instrument.query("*OPC?;PULS2:TIM?"), "1;1.001E-09,2.002E-09")
        lines = {1: "1 0 511", 2: "2 91 182", 16: "16 511 0"}
        with open(self.state) as saved:
            self.assertEqual(saved.read(), STATE_HEADER + "".join(
                    lines.get(n, f"{n} 0 0") + "\n" for n in range(1, 17)))
        # A command far longer than what one write carries is refused whole.
        instrument.write("*OPC;" + " " * 70000 + "*CLS")
        self.assertEqual(instrument.query("SYST:ERR?;*ESR?"),
                         '-223,"Too much data;a command is limited to 65536 bytes";48')  # and BOGUS's bit

    def test_exclusive_lock(self):
        self.start()
        holder, other = self.open(), self.open(timeout=1000)
        other.visalib.sessions[other.session].lock_timeout = 500
        holder.lock_excl()
        raw = self.daemon.connect()
        self.addCleanup(raw.close)
        self.assertRegex(raw.query("SYST:LOCK:OWN?"), r'^"VXI-11 127\.0\.0\.1:\d+ link \d+"$')
        started = time.monotonic()
        with self.assertRaises(pyvisa.VisaIOError):
            other.write("PULS3:TIM 1NS,1NS")
        self.assertGreater(time.monotonic() - started, 0.4)
        self.assertEqual(other.query("*IDN?").split(",")[0], "Kestrane")
        raw.send("PULS3:TIM 1NS,1NS")
        self.assertTrue(raw.query("SYST:ERR?").startswith(
                '-203,"Command protected;the generator is locked by VXI-11 127.0.0.1:'))
        self.assertEqual(self.simulator.logged("frame"), [])
        holder.unlock()
        other.write("PULS3:TIM 1NS,1NS")
        self.assertEqual(other.query("PULS3:TIM?"), "1.001E-09,1.001E-09")
        self.assertEqual(raw.query("SYST:LOCK:OWN?"), '"NONE"')

    def test_vanished_client_releases_its_lock(self):
        self.start()
        # A client that takes the lock, then dies in the middle of a read.
        script = ("import pyvisa\n"
                  f"i = pyvisa.ResourceManager('@py').open_resource('{INSTR}', timeout=60000)\n"
                  "i.lock_excl(); print('locked', flush=True); i.read()\n")
        holder = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE)
        self.addCleanup(lambda: holder.poll() is None and holder.kill())
        self.assertEqual(holder.stdout.readline(), b"locked\n")
        raw = self.daemon.connect()
        self.addCleanup(raw.close)
        self.assertEqual(raw.query("SYST:LOCK:REQ?"), "0")
        holder.kill()
        holder.wait(5)
        self.assertTrue(wait_until(lambda: raw.query("SYST:LOCK:REQ?") == "1", 2))

    def test_hang_up_is_240_then_241_on_the_link(self):
        # It hangs up after the first of *RST's sixteen frames, as when unplugged.
        self.start("--hangup-after", "1")
        instrument = self.open()
        instrument.write("*RST")
        self.assertEqual(self.simulator.process.wait(5), 0)
        self.assertEqual(instrument.query("*OPC?;*TST?"), "1;1")
        instrument.write("PULS1:TIM 1NS,1NS")
        self.assertRegex(instrument.query("SYST:ERR:ALL?"),
                         r'^-240,"Hardware error;[^"]*",-241,"Hardware missing;[^"]*"$')

    def test_links_and_sockets_share_the_client_limit(self):
        self.start(daemon=("--max-clients", "2"))
        raw = self.daemon.connect()
        self.addCleanup(raw.close)
        self.assertEqual(raw.query("*OPC?"), "1")  # accepted: it holds a slot
        self.open()
        # Error 9, out of resources; pyvisa-py reports it so.
        with self.assertRaisesRegex(Exception, "error creating link: 9"):
            self.open()

    def test_error_numbers(self):
        from pyvisa_py.protocols import vxi11  # the protocol as pyvisa-py speaks it
        self.start()
        first, second = vxi11.CoreClient("127.0.0.1"), vxi11.CoreClient("127.0.0.1")
        self.addCleanup(first.close)
        self.addCleanup(second.close)
        self.assertEqual(first.create_link(1, 0, 0, "gpib0,5")[0], 3)  # device not accessible
        error, link, abort_port, max_receive = first.create_link(1, 0, 0, "inst0")
        self.assertEqual((error, abort_port, max_receive), (0, 0, 1024))
        self.assertEqual(second.device_write(link, 1000, 0, 8, b"*RST\n")[0], 4)  # not its link
        self.assertEqual(second.destroy_link(link), 4)
        self.assertEqual(first.device_write(link, 1000, 0, 8, b" " * 1025)[0], 5)
        started = time.monotonic()
        self.assertEqual(first.device_read(link, 100, 300, 0, 0, 0)[0], 15)  # nothing to read
        self.assertGreater(time.monotonic() - started, 0.25)
        self.assertEqual(first.device_unlock(link), 12)  # no lock held
        self.assertEqual(first.device_trigger(link, 0, 0, 0), 8)  # not supported
        self.assertEqual(first.device_docmd(link, 0, 0, 0, 0, False, 1, b"")[0], 8)
        self.assertEqual(first.device_remote(link, 0, 0, 0), 0)
        self.assertEqual(first.destroy_link(link), 0)
        self.assertEqual(first.destroy_link(link), 4)

    def test_lxi_tools_and_the_portmapper(self):
        self.start()
        self.assertIn(" 395183    1   tcp", registered_programs())
        identity = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "*IDN?"], capture_output=True,
                                  text=True, timeout=20)
        self.assertEqual(identity.stdout.split(",")[:2], ["Kestrane", "kestrane-scpid"])
        self.assertEqual(self.daemon.stop(), 0)
        self.assertNotIn("395183", registered_programs())

    def test_rpcinfo_calls_the_null_procedure(self):
        self.start()
        ready = subprocess.run(["rpcinfo", "-t", "127.0.0.1", "395183", "1"], capture_output=True,
                               text=True, timeout=10)
        self.assertEqual((ready.returncode, ready.stdout),
                         (0, "program 395183 version 1 ready and waiting\n"))

    def test_stalled_connections_are_closed(self):
        self.start()  # eight clients, so eight connections at most
        port = int(re.search(r"VXI-11 on port (\d+)", self.daemon.log()).group(1))
        started = time.monotonic()
        stalled = [socket.create_connection(("127.0.0.1", port), STALL_S + 5) for _ in range(8)]
        for connection in stalled:
            self.addCleanup(connection.close)
            connection.sendall(b"\x80\x00\x00\x40" + bytes(30))  # half a record
        with socket.create_connection(("127.0.0.1", port), 5) as turned_away:
            self.assertEqual(turned_away.recv(100), b"")  # at once, while they are there
        for connection in stalled:
            self.assertEqual(connection.recv(100), b"")
        self.assertGreater(time.monotonic() - started, STALL_S - 0.5)
        self.assertLess(time.monotonic() - started, STALL_S + 3)
        self.assertTrue(self.open().query("*IDN?").startswith("Kestrane,"))

    def test_without_a_portmapper_the_raw_socket_serves_on(self):
        self.portmapper.process.send_signal(signal.SIGSTOP)  # there, but never answering
        self.addCleanup(self.portmapper.process.send_signal, signal.SIGCONT)
        started = time.monotonic()
        self.start()
        self.assertLess(time.monotonic() - started, 5)
        self.assertIn("not serving VXI-11:", self.daemon.log())
        raw = self.daemon.connect()
        self.addCleanup(raw.close)
        self.assertEqual(raw.query("*OPC?"), "1")


if __name__ == "__main__":
    unittest.main()
