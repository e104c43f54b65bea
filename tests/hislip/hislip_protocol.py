"""kestrane-scpid's HiSLIP, message by message, with a client of the tests'
own (hislipclient.py) where pyvisa-py has nothing to offer: locks against
VXI-11 links (pyvisa-py) and raw sockets, status queries, device clear,
errors and stalled connections; and the exchange as Debian's tshark decodes
it. In a network namespace of the test's own, with a portmapper of its own."""
import os
import signal
import socket
import struct
import subprocess
import tempfile
import time
import unittest

import pyvisa

from hislipclient import (ASYNC_DEVICE_CLEAR, ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, ASYNC_INITIALIZE,
                          ASYNC_LOCK, ASYNC_MAXIMUM_MESSAGE_SIZE, ASYNC_REMOTE_LOCAL_CONTROL,
                          ASYNC_REMOTE_LOCAL_RESPONSE, DATA, DATA_END, DEVICE_CLEAR_ACKNOWLEDGE,
                          DEVICE_CLEAR_COMPLETE, ERROR, FATAL_ERROR, FIRST_MESSAGE_ID, HEADER,
                          INITIALIZE, INITIALIZE_RESPONSE, TRIGGER, Connection, Message, Session)
from scpidprocesses import Daemon, Portmapper, Simulator, wait_until

IDENTITY = "Kestrane,kestrane-scpid,0,1.0.0"
STALL_S = 5


class Hislip(unittest.TestCase):
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
        self.capture = os.path.join(directory.name, "hislip.pcap")

    def start(self, *simulator):
        self.simulator = Simulator(self.link, *simulator)
        self.addCleanup(self.simulator.stop)
        self.daemon = Daemon("--port", self.link, "--max-clients", "4", "--reply-timeout", "1000")
        self.addCleanup(lambda: self.assertEqual(self.daemon.stop(), 0))
        self.assertTrue(wait_until(lambda: "link up" in self.daemon.log(), 5))

    def session(self, **arguments):
        session = Session(self.daemon.hislip_port, **arguments)
        self.addCleanup(session.close)
        return session

    def connection(self):
        connection = Connection(self.daemon.hislip_port)
        self.addCleanup(connection.close)
        return connection

    def owner_name(self, session):
        return f"HiSLIP 127.0.0.1:{session.sync.socket.getsockname()[1]} session {session.id}"

    def assertFatal(self, connections, code):
        for connection in connections:
            message = connection.receive()
            self.assertEqual((message.type, message.control), (FATAL_ERROR, code), message)
            self.assertTrue(connection.is_closed())

    def test_initialize_and_answers_tagged_with_their_message(self):
        self.start()
        for asked, given in ((0x0100, 0x0100), (0x0101, 0x0101), (0x0200, 0x0101)):
            session = self.session(version=asked)
            self.assertEqual((session.version, session.vendor.control), (given, 0))
        self.assertEqual(self.session(sub_address=b"").query("*IDN?"), IDENTITY)
        # A line ends in the message that carries its line end, or in a DataEnd.
        first = session.write("*IDN?\nSYST:ERR:COUN?;PULS", kind=DATA)
        second = session.write("1:TIM?", rmt=True)
        self.assertEqual(session.read(), [Message(DATA_END, 0, first, IDENTITY.encode() + b"\n")])
        self.assertEqual(session.read(), [Message(DATA_END, 0, second, b"0;9.91E37,9.91E37\n")])

    def test_refused_connections(self):
        self.start()
        for payload, code in ((b"hislip1", 3), (b"x" * 2000, 3)):
            refused = self.connection()
            refused.send(INITIALIZE, 0, 0x01000000, payload)
            self.assertFatal([refused], code)
        for first in (ASYNC_INITIALIZE, DATA_END):  # no session 999; data first
            refused = self.connection()
            refused.send(first, 0, 999)
            self.assertFatal([refused], 3)
        sessions = [self.session() for _ in range(4)]  # every client slot
        refused = self.connection()
        refused.send(INITIALIZE, 0, 0x01000000, b"hislip0")
        self.assertFatal([refused], 4)
        sessions.pop().close()
        self.assertTrue(wait_until(lambda: self.daemon.log().count(" ends\n") == 1, 2))
        self.assertEqual(self.session().query("*OPC?"), "1")

    def test_long_answers_in_pieces_and_long_lines_refused(self):
        self.start()
        session = self.session()
        size = session.ask(ASYNC_MAXIMUM_MESSAGE_SIZE, 0, 0, struct.pack(">Q", 100))
        self.assertEqual(size.payload, struct.pack(">Q", 1024 * 1024))
        last = session.write("*IDN?;*IDN?;*IDN?")
        pieces = session.read()
        self.assertEqual([(piece.type, len(piece.payload), piece.parameter) for piece in pieces],
                         [(DATA, 84, last), (DATA_END, 3 * len(IDENTITY) + 3 - 84, last)])
        self.assertEqual(b"".join(piece.payload for piece in pieces),
                         ";".join([IDENTITY] * 3).encode() + b"\n")
        session.write("*OPC;" + " " * 70000 + "*CLS")
        self.assertEqual(session.query("SYST:ERR?"),
                         '-223,"Too much data;a line is limited to 65536 bytes"')

    def test_status_query_and_message_available(self):
        self.start()
        session = self.session()
        session.write("*IDN?")
        self.assertEqual(session.read()[0].payload, IDENTITY.encode() + b"\n")
        self.assertEqual(session.status(), 0x10)  # received, not delivered
        self.assertEqual(session.status(rmt=True), 0)
        session.write("BOGUS", rmt=True)
        self.assertEqual(session.query("*OPC?"), "1")
        self.assertEqual(session.status(rmt=True), 0x04)  # an error is queued

    def test_device_clear_drops_answers_and_input_not_errors(self):
        self.start("--reply-delay", "300")
        session = self.session()
        session.write("BOGUS")
        session.write("PULS1:TIM 1NS,1NS")
        session.write("*IDN?")  # waits behind the setting
        self.assertTrue(wait_until(lambda: self.simulator.logged("frame"), 2))
        acknowledged = session.ask(ASYNC_DEVICE_CLEAR)
        self.assertEqual((acknowledged.type, acknowledged.control),
                         (ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, 0))
        session.write("*IDN?")  # dropped: the clear is not complete
        session.sync.send(DEVICE_CLEAR_COMPLETE)
        self.assertEqual(session.sync.receive(), Message(DEVICE_CLEAR_ACKNOWLEDGE, 0, 0, b""))
        session.next_id = FIRST_MESSAGE_ID
        self.assertEqual(session.query("SYST:ERR:ALL?"), '-113,"Undefined header;BOGUS"')
        self.assertEqual(session.status(rmt=True), 0)

    def test_the_generators_one_lock(self):
        self.start()
        holder, other = self.session(), self.session()
        raw = self.daemon.connect()
        self.addCleanup(raw.close)
        manager = pyvisa.ResourceManager("@py")
        self.addCleanup(manager.close)
        vxi11 = manager.open_resource("TCPIP::127.0.0.1::inst0::INSTR", timeout=2000)
        self.addCleanup(vxi11.close)
        vxi11.visalib.sessions[vxi11.session].lock_timeout = 300

        self.assertEqual((holder.lock(0), holder.lock_info()), (1, (1, 1)))
        self.assertEqual(raw.query("SYST:LOCK:OWN?;REQ?"), f'"{self.owner_name(holder)}";0')
        raw.send("PULS3:TIM 1NS,1NS")
        self.assertTrue(raw.query("SYST:ERR?").startswith('-203,"Command protected;'))
        with self.assertRaises(pyvisa.VisaIOError):
            vxi11.write("PULS3:TIM 1NS,1NS")
        other.write("PULS3:TIM 1NS,1NS")
        self.assertEqual(other.query("SYST:ERR?"), '-203,"Command protected;the generator is '
                                                   f'locked by {self.owner_name(holder)}"')
        started = time.monotonic()
        self.assertEqual(other.lock(300), 0)
        self.assertGreater(time.monotonic() - started, 0.25)
        self.assertEqual(self.simulator.logged("frame"), [])
        holder.write("PULS3:TIM 1NS,1NS")
        self.assertEqual(holder.query("PULS3:TIM?"), "1.001E-09,1.001E-09")
        self.assertEqual((holder.unlock(), holder.unlock()), (1, 3))

        # The other way round: a VXI-11 link holds it, a HiSLIP request waits.
        vxi11.lock_excl()
        self.assertEqual(other.lock(0), 0)
        other.async_.send(ASYNC_LOCK, 1, 5000)
        vxi11.unlock()
        self.assertEqual(other.async_.receive().control, 1)
        self.assertEqual(raw.query("SYST:LOCK:OWN?"), f'"{self.owner_name(other)}"')
        other.close()  # gives it back
        self.assertTrue(wait_until(lambda: raw.query("SYST:LOCK:OWN?") == '"NONE"', 2))

    def test_a_shared_lock(self):
        self.start()
        first, second, third = self.session(), self.session(), self.session()
        raw = self.daemon.connect()
        self.addCleanup(raw.close)
        self.assertEqual((first.lock(0, b"bench"), second.lock(0, b"bench")), (1, 1))
        self.assertEqual(first.lock_info(), (0, 2))
        self.assertEqual((third.lock(0, b"other"), third.lock(0), first.lock(0, b"other")),
                         (0, 0, 3))
        self.assertEqual(raw.query("SYST:LOCK:OWN?;REQ?"),
                         f'"{self.owner_name(first)} and {self.owner_name(second)}";0')
        second.write("PULS4:TIM 1NS,1NS")
        third.write("PULS4:TIM 2NS,2NS")
        self.assertEqual(third.query("SYST:ERR:COUN?;PULS4:TIM?"), "1;1.001E-09,1.001E-09")
        self.assertEqual(first.unlock(), 2)
        second.close()
        self.assertTrue(wait_until(lambda: third.lock_info() == (0, 0), 2))
        self.assertEqual(third.lock(0), 1)

    def test_errors_keep_the_session_fatal_errors_end_it(self):
        self.start()
        session = self.session()
        for connection, kind, code in ((session.sync, 26, 1), (session.sync, 127, 1),
                                       (session.async_, 38, 1), (session.sync, 128, 3),
                                       (session.async_, 255, 3)):
            with self.subTest(kind=kind):
                connection.send(kind, 0, 0, b"ignored")
                self.assertEqual(connection.receive()[:2], (ERROR, code))
        self.assertEqual(session.ask(ASYNC_REMOTE_LOCAL_CONTROL, 1, 0).type,
                         ASYNC_REMOTE_LOCAL_RESPONSE)
        session.write("", kind=TRIGGER, rmt=True)
        self.assertEqual(session.query("*IDN?"), IDENTITY)

        session.sync.socket.sendall(b"XS" + bytes(HEADER.size - 2))
        self.assertFatal([session.sync, session.async_], 1)
        session = self.session()
        session.async_.send(DATA_END, 0, FIRST_MESSAGE_ID, b"*RST\n")
        self.assertFatal([session.async_, session.sync], 0)
        self.assertEqual(self.simulator.logged("frame"), [])

    def test_stalled_connections_are_closed(self):
        self.start()
        started = time.monotonic()
        session = self.session()
        session.sync.socket.sendall(HEADER.pack(b"HS", DATA_END, 0, 0, 100) + b"*IDN?")
        lonely = self.connection()  # its asynchronous connection never comes
        lonely.send(INITIALIZE, 0, 0x01000000, b"hislip0")
        self.assertEqual(lonely.receive().type, INITIALIZE_RESPONSE)
        stalled = [self.connection() for _ in range(4)]
        stalled[0].socket.sendall(b"HS\x06")  # part of a header
        refused = self.connection()  # four are on their way to a session already
        self.assertFatal([refused], 4)
        for connection in stalled + [lonely, session.sync, session.async_]:
            self.assertTrue(connection.is_closed())
        self.assertGreater(time.monotonic() - started, STALL_S - 0.5)
        self.assertLess(time.monotonic() - started, STALL_S + 3)
        self.assertEqual(self.session().query("*OPC?"), "1")

    def test_tshark_decodes_the_exchange(self):
        self.start()
        port = self.daemon.hislip_port
        tshark = subprocess.Popen(["tshark", "-i", "lo", "-f", f"port {port}", "-w", self.capture],
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: tshark.poll() is None and tshark.kill())

        def decode(*arguments):
            return subprocess.run(["tshark", "-r", self.capture, "-d", f"tcp.port=={port},hislip",
                                   *arguments], capture_output=True, text=True).stdout

        # Capturing once a datagram sent to the port (nothing takes it) is in
        # the file; the capture hands packets on in blocks.
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            self.assertTrue(wait_until(lambda: probe.sendto(b"probe", ("127.0.0.1", port))
                                       and decode("-Y", "udp"), 20))
        session = self.session()
        session.ask(ASYNC_MAXIMUM_MESSAGE_SIZE, 0, 0, struct.pack(">Q", 1 << 20))
        self.assertEqual(session.query("PULS2:TIM 1NS,2NS;TIM?"), "1.001E-09,2.002E-09")
        self.assertEqual((session.lock(1000), session.lock_info(), session.unlock()),
                         (1, (1, 1), 1))
        self.assertEqual(session.status(rmt=True), 0)
        session.ask(ASYNC_DEVICE_CLEAR)
        session.sync.send(DEVICE_CLEAR_COMPLETE)
        session.sync.receive()

        # Until the last message is in the file.
        self.assertTrue(wait_until(lambda: decode("-Y", "hislip.messagetype == 9"), 20))
        tshark.send_signal(signal.SIGINT)
        tshark.wait(10)
        decoded = decode("-V")
        self.assertNotRegex(decoded, "(?i)malformed|hasn't 'HS'|Expert Info \\((Warning|Error)")
        for name in ("Initialize", "InitializeResponse", "AsyncInitialize", "AsyncLock",
                     "AsyncLockResponse", "AsyncLockInfoResponse", "DataEnd",
                     "AsyncMaximumMessageSizeResponse", "AsyncStatusResponse",
                     "AsyncDeviceClearAcknowledge", "DeviceClearAcknowledge"):
            self.assertRegex(decoded, f"Message Type: {name} \\(")
        for field in ("Data: 1.001E-09,2.002E-09\\n", "Control Code: Exclusive lock granted (0x01)",
                      "Control Code: Success exclusive (0x01)", "Max Message Size: 1048576 bytes"):
            self.assertIn(field, decoded)


if __name__ == "__main__":
    unittest.main()
