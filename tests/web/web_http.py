"""kestrane-scpid's web pages for clients written elsewhere: the
identification document checked by xmllint and its resource strings opened
with pyvisa, every answer after the commands queued before it, and a web
server that stays bounded whatever its clients do."""
import http.client
import importlib.util
import json
import os
import socket
import subprocess
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree

import pyvisa

from scpidprocesses import Daemon, Portmapper, Simulator, cpu_seconds, resident_mib, wait_until

IDENTIFICATION = "{http://www.lxistandard.org/InstrumentIdentification/1.0}"
POLICY = ("default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
          "base-uri 'none'; form-action 'none'; frame-ancestors 'none'")


def get(daemon, path, method="GET"):
    connection = http.client.HTTPConnection("127.0.0.1", daemon.http_port, timeout=5)
    try:
        connection.request(method, path)
        response = connection.getresponse()
        return response.status, response, response.read()
    finally:
        connection.close()


def unread_by_daemon(port, peer_port):
    """What the daemon has not read yet of a connection from peer_port to its
    port, as the kernel's table of TCP sockets says; None once it is gone."""
    with open("/proc/net/tcp") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            local, remote = (int(address.split(":")[1], 16) for address in fields[1:3])
            if (local, remote) == (port, peer_port):
                return int(fields[4].split(":")[1], 16)
    return None


class WebTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)
        # Slow replies keep commands queued long enough to look at.
        self.simulator = Simulator(os.path.join(self.directory.name, "generator"),
                                   "--reply-delay", "300")
        self.addCleanup(self.simulator.stop)
        self.daemon = Daemon("--port", os.path.join(self.directory.name, "generator"),
                             "--reply-timeout", "1000")
        self.addCleanup(self.daemon.stop)
        self.assertTrue(wait_until(lambda: "link up" in self.daemon.log(), 2))

    def resident_after_a_page(self):
        """Resident memory once a page was served: the first one maps and
        fills what serving takes (8 MB with Qt 6.8)."""
        self.assertEqual(get(self.daemon, "/")[0], 200)
        return resident_mib(self.daemon.process.pid)

    def assert_grew_less_than(self, resident_before, mib):
        # AddressSanitizer keeps freed memory aside: there the resident
        # memory says nothing of what the daemon holds.
        if "ASAN_OPTIONS" not in os.environ:
            self.assertLess(resident_mib(self.daemon.process.pid) - resident_before, mib)

    def scpi_round_trip_s(self, client):
        started = time.monotonic()
        self.assertTrue(client.query("*IDN?").startswith("Kestrane,kestrane-scpid,"))
        return time.monotonic() - started


class Pages(WebTest):
    def test_identification_names_what_the_daemon_answers(self):
        # With a portmapper, so that VXI-11 is served too: a daemon of its own
        # (the generator stays the first one's; *IDN? answers without it).
        self.addCleanup(Portmapper().stop)
        daemon = Daemon("--port", os.path.join(self.directory.name, "generator"))
        self.addCleanup(daemon.stop)
        status, _, body = get(daemon, "/lxi/identification")
        self.assertEqual(status, 200)
        with tempfile.NamedTemporaryFile(suffix=".xml") as document:
            document.write(body)
            document.flush()
            subprocess.run(["xmllint", "--noout", document.name], check=True)
        root = ElementTree.fromstring(body)
        self.assertEqual(root.tag, IDENTIFICATION + "LXIDevice")
        self.assertEqual(root.findtext(IDENTIFICATION + "Manufacturer"), "Kestrane")
        self.assertEqual(root.findtext(IDENTIFICATION + "HomepageURL"), daemon.url + "/")
        resources = [element.text for element in root.iter(IDENTIFICATION + "InstrumentAddressString")]
        hislip = f"TCPIP::127.0.0.1::hislip0,{daemon.hislip_port}::INSTR"
        self.assertEqual(resources, [daemon.resource, "TCPIP::127.0.0.1::inst0::INSTR", hislip])
        if importlib.util.find_spec("pyvisa_py.protocols.hislip") is None:  # pyvisa-py 0.5.1
            resources.remove(hislip)
        manager = pyvisa.ResourceManager("@py")
        for resource in resources:
            instrument = manager.open_resource(resource, read_termination="\n",
                                               write_termination="\n", timeout=2000)
            self.assertTrue(instrument.query("*IDN?").startswith("Kestrane,kestrane-scpid,"))
            instrument.close()

    def test_every_answer_carries_the_policy(self):
        expected = [("GET", "/", 200, "text/html; charset=utf-8"),
                    ("GET", "/status.json", 200, "application/json"),
                    ("GET", "/timing.svg", 200, "image/svg+xml"),
                    ("GET", "/lxi/identification", 200, "text/xml; charset=utf-8"),
                    ("GET", "/status.js", 200, "text/javascript; charset=utf-8"),
                    ("GET", "/status.css", 200, "text/css; charset=utf-8"),
                    ("GET", "/missing", 404, "text/plain; charset=utf-8"),
                    ("POST", "/", 405, "text/plain; charset=utf-8"),
                    ("HEAD", "/", 405, "text/plain; charset=utf-8")]
        for method, path, status, content_type in expected:
            with self.subTest(method=method, path=path):
                answered, response, body = get(self.daemon, path, method)
                self.assertEqual((answered, response.getheader("Content-Type")),
                                 (status, content_type))
                self.assertEqual(response.getheader("Content-Security-Policy"), POLICY)
                self.assertEqual(response.getheader("X-Content-Type-Options"), "nosniff")
                self.assertEqual(len(body) == 0, status == 405)

    def test_answers_come_after_the_commands_queued_before(self):
        client = self.daemon.connect()
        self.addCleanup(client.close)
        client.send("PULS2:TIM 1NS,1NS")
        self.assertTrue(wait_until(lambda: 'sent "02091091"' in self.daemon.log(), 2))
        # A client gone before its answer is ready is simply not answered.
        with socket.create_connection(("127.0.0.1", self.daemon.http_port), 5) as gone:
            gone.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
        # The generator answers 300 ms late: the page waits for it, and the
        # answers on one connection keep the order of their requests.
        with socket.create_connection(("127.0.0.1", self.daemon.http_port), 5) as web:
            web.sendall(b"GET /status.json HTTP/1.1\r\nHost: x\r\n\r\n"
                        b"GET /status.css HTTP/1.1\r\nHost: x\r\n\r\n")
            answers = b""
            while answers.count(b"HTTP/1.1 200") < 2:
                answers += web.recv(65536)
        status, css = answers.split(b"HTTP/1.1 200")[1:]
        self.assertIn(b'{"channel":2,"delayPs":1001,"label":"","widthPs":1001}', status)
        self.assertIn(b"text/css", css)
        self.assertNotRegex(self.daemon.log(), "QIODevice|QHttpServer|QTcpSocket")

    def test_the_lock_holder_is_shown(self):
        client = self.daemon.connect()
        self.addCleanup(client.close)
        self.assertEqual(json.loads(get(self.daemon, "/status.json")[2])["lockOwner"], None)
        self.assertEqual(client.query("SYST:LOCK:REQ?;OWN?")[:3], '1;"')
        owner = client.query("SYST:LOCK:OWN?").strip('"')
        self.assertEqual(json.loads(get(self.daemon, "/status.json")[2])["lockOwner"], owner)
        self.assertRegex(get(self.daemon, "/")[2].decode(), f'id="lock-owner"[^>]*>{owner}<')


class Bounds(WebTest):
    def test_a_huge_body_is_cut_off(self):
        client = self.daemon.connect()
        self.addCleanup(client.close)
        resident = self.resident_after_a_page()
        sent = 0
        with socket.create_connection(("127.0.0.1", self.daemon.http_port), 5) as web:
            web.sendall(b"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 52428800\r\n\r\n")
            chunk = b"x" * 65536
            try:
                while sent < 50 * 1024 * 1024:
                    sent += web.send(chunk)
                    if sent % (1024 * 1024) == 0:
                        self.assertLess(self.scpi_round_trip_s(client), 0.5)
            except (BrokenPipeError, ConnectionResetError, TimeoutError):
                pass
        self.assertLess(sent, 50 * 1024 * 1024)
        self.assertIn("sent more than 16384 bytes without an answer", self.daemon.log())
        self.assert_grew_less_than(resident, 4)

    def test_answers_nobody_reads_are_cut_off(self):
        client = self.daemon.connect()
        self.addCleanup(client.close)
        resident = self.resident_after_a_page()
        web = socket.create_connection(("127.0.0.1", self.daemon.http_port), 5)
        self.addCleanup(web.close)
        own_port = web.getsockname()[1]

        # Whichever bound comes first: the answers waiting in the daemon, the
        # time since the kernel last took any, or the requests waiting behind
        # them (a slow daemon, under a sanitizer, fills the kernel's buffers
        # and then holds requests unanswered).
        def cut_off():
            log = self.daemon.log()
            return any(bound in log for bound in
                       ("reads no answers", "took no answer", "without an answer"))

        sent = 0
        try:
            # One request at a time, each read by the daemon before the next
            # goes: requests left waiting in its buffer are counted again as
            # more arrive (web/webconnection.cpp), and a client that sends
            # ahead is cut off for sending too much instead. None of the
            # pages is read: about 50 MB if they were all kept.
            while sent < 5000 and not cut_off():
                web.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
                sent += 1
                self.assertTrue(wait_until(
                        lambda: unread_by_daemon(self.daemon.http_port, own_port) in (0, None)
                        or cut_off(), 10, interval_s=0.001))
        except OSError:
            pass
        self.assertTrue(wait_until(cut_off, 10), sent)
        self.assertLess(self.scpi_round_trip_s(client), 0.5)
        self.assert_grew_less_than(resident, 8)

    def test_one_connection_too_many(self):
        held = [socket.create_connection(("127.0.0.1", self.daemon.http_port), 5)
                for _ in range(16)]
        with socket.create_connection(("127.0.0.1", self.daemon.http_port), 5) as refused:
            self.assertTrue(refused.recv(100).startswith(b"HTTP/1.1 503 Service Unavailable"))
        held.pop().close()
        self.assertTrue(wait_until(lambda: get(self.daemon, "/status.css")[0] == 200, 2))
        for web in held:
            web.close()

    def test_a_connection_without_answers_is_closed_after_10_s(self):
        with socket.create_connection(("127.0.0.1", self.daemon.http_port), 15) as web:
            web.sendall(b"GET / HTTP/1.1\r\n")  # and nothing more
            started = time.monotonic()
            self.assertEqual(web.recv(100), b"")
            self.assertGreater(time.monotonic() - started, 9)

    def test_out_of_descriptors_it_waits_without_spinning(self):
        pid = self.daemon.process.pid
        # Every kind of answer first: UndefinedBehaviorSanitizer checks a
        # type the first time it meets one with a pipe, which it cannot open
        # once the descriptors are gone.
        for path in ("/", "/status.css"):
            self.assertEqual(get(self.daemon, path)[0], 200)
        # Room for one more connection, as when something else used the rest.
        limit = len(os.listdir(f"/proc/{pid}/fd")) + 1
        subprocess.run(["prlimit", f"--pid={pid}", f"--nofile={limit}:{limit}"], check=True)
        webs = [socket.create_connection(("127.0.0.1", self.daemon.http_port), 5)
                for _ in range(4)]
        self.assertTrue(wait_until(lambda: "not accepting clients for now" in self.daemon.log(), 2))
        spent = cpu_seconds(pid)
        time.sleep(1)
        self.assertLess(cpu_seconds(pid) - spent, 0.2)
        webs.pop(0).close()  # the one accepted
        webs[0].sendall(b"GET /status.css HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertTrue(webs[0].recv(100).startswith(b"HTTP/1.1 200 OK"))
        for web in webs:
            web.close()


if __name__ == "__main__":
    unittest.main()
