"""kestrane-scpid's announcements as avahi-browse and lxi-tools see them,
with a dbus-daemon and an avahi-daemon of the test's own in its network
namespace (loopback, and a veth pair with 192.0.2.1 that never leaves it)."""
import os
import re
import signal
import socket
import subprocess
import unittest
import urllib.request
import xml.etree.ElementTree as ElementTree

from scpidprocesses import Daemon, Portmapper, Simulator, wait_until

AVAHI_PID_FILE = "/run/avahi-daemon/pid"


def start_avahi():
    subprocess.run(["avahi-daemon", "--daemonize", "--no-drop-root", "--no-chroot"], check=True)
    if not wait_until(lambda: subprocess.run(["avahi-daemon", "--check"]).returncode == 0, 5):
        raise RuntimeError("avahi-daemon did not start")


def stop_avahi():
    with open(AVAHI_PID_FILE) as pid_file:
        pid = int(pid_file.read())
    os.kill(pid, signal.SIGTERM)
    if not wait_until(lambda: not os.path.exists(f"/proc/{pid}"), 5):
        raise RuntimeError("avahi-daemon did not end")


PORTMAPPER_PORT = 111


def browse(service_type, *daemons):
    """What avahi-browse resolves of these daemons' services: (interface,
    name, port, TXT records) each. Other daemons' announcements may linger
    for a second after they have ended."""
    ports = {port for daemon in daemons
             for port in (daemon.tcp_port, daemon.http_port, daemon.hislip_port)}
    ports.add(PORTMAPPER_PORT)
    lines = subprocess.run(["avahi-browse", "-rpt", service_type], capture_output=True,
                           text=True, timeout=20, check=True).stdout.splitlines()
    found = []
    for line in lines:
        fields = line.split(";")
        if fields[0] == "=" and int(fields[8]) in ports:
            name = fields[3].replace("\\032", " ")
            found.append((fields[1], name, int(fields[8]), re.findall(r'"([^"]*)"', fields[9])))
    return sorted(found)


class Discovery(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run(["ip", "link", "add", "kestrane0", "type", "veth", "peer", "name",
                        "kestrane1"], check=True)
        subprocess.run(["ip", "address", "add", "192.0.2.1/24", "dev", "kestrane0"], check=True)
        for link in ("kestrane0", "kestrane1"):
            subprocess.run(["ip", "link", "set", link, "up"], check=True)
        os.makedirs("/run/dbus", exist_ok=True)
        os.makedirs("/run/avahi-daemon", exist_ok=True)
        cls.dbus_pid = int(subprocess.run(["dbus-daemon", "--system", "--fork", "--print-pid"],
                                          capture_output=True, text=True, check=True).stdout)
        start_avahi()

    @classmethod
    def tearDownClass(cls):
        stop_avahi()
        os.kill(cls.dbus_pid, signal.SIGTERM)

    def setUp(self):
        self.link = f"/tmp/kestrane-mdns-{os.getpid()}-{self.id().rsplit('.', 1)[1]}"
        self.simulator = Simulator(self.link)
        self.addCleanup(self.simulator.stop)

    def daemon(self, *arguments, announced=True):
        daemon = Daemon("--port", self.link, *arguments)
        self.addCleanup(daemon.stop)
        if announced:
            self.assertTrue(wait_until(lambda: "mDNS: announced as" in daemon.log(), 10),
                            daemon.log())
        return daemon

    def test_each_service_with_its_port_and_records(self):
        daemon = self.daemon()
        name = f"Kestrane pulse generator on {socket.gethostname().split('.')[0]}"
        # The simulator's port has no serial number: the stand-in, everywhere.
        client = daemon.connect()
        self.addCleanup(client.close)
        self.assertEqual(client.query("*IDN?").split(",")[2], "0")
        with urllib.request.urlopen(daemon.url + "/lxi/identification", timeout=5) as answer:
            identification = ElementTree.fromstring(answer.read())
        self.assertEqual(identification.findtext(
                "{http://www.lxistandard.org/InstrumentIdentification/1.0}SerialNumber"), "0")
        records = ["txtvers=1", "Manufacturer=Kestrane", "Model=kestrane-scpid", "SerialNumber=0",
                   "FirmwareVersion=1.0.0"]
        self.assertEqual(browse("_scpi-raw._tcp", daemon), [("lo", name, daemon.tcp_port, records)])
        self.assertEqual(browse("_hislip._tcp", daemon),
                         [("lo", name, daemon.hislip_port, records)])
        self.assertEqual(browse("_lxi._tcp", daemon), [("lo", name, daemon.http_port, records)])
        self.assertEqual(browse("_http._tcp", daemon),
                         [("lo", name, daemon.http_port, records + ["path=/"])])
        self.assertEqual(browse("_vxi-11._tcp", daemon), [])
        found = subprocess.run(["lxi", "discover", "--mdns"], capture_output=True, text=True,
                               timeout=30, check=True).stdout
        self.assertIn(f'Found "{name}" on address 127.0.0.1', found)
        self.assertIn(f"scpi-raw service on port {daemon.tcp_port}", found)
        self.assertIn(f"lxi service on port {daemon.http_port}", found)

    def test_vxi11_announced_while_served(self):
        self.addCleanup(Portmapper().stop)
        daemon = self.daemon()
        self.assertIn("VXI-11 on port", daemon.log())
        self.assertEqual([(interface, port) for interface, _, port, _ in
                          browse("_vxi-11._tcp", daemon)], [("lo", PORTMAPPER_PORT)])

    def test_every_interface_for_any_address_and_a_new_name_for_a_taken_one(self):
        first = self.daemon("--listen", "0.0.0.0", "--http-port", "0", "--no-hislip")
        second = self.daemon("--listen", "0.0.0.0", "--http-port", "0", "--no-hislip")
        name = first.log().split("mDNS: announced as ", 1)[1].splitlines()[0]
        self.assertIn(f"announced as {name} #2", second.log())
        seen = {(interface, port)
                for interface, _, port, _ in browse("_scpi-raw._tcp", first, second)}
        self.assertEqual(seen, {(interface, daemon.tcp_port) for daemon in (first, second)
                                for interface in ("lo", "kestrane0")})
        self.assertEqual(browse("_http._tcp", first, second), [])
        self.assertEqual(browse("_hislip._tcp", first, second), [])

    def test_no_mdns_announces_nothing(self):
        daemon = self.daemon("--no-mdns", announced=False)
        self.assertEqual(browse("_scpi-raw._tcp", daemon), [])
        self.assertNotIn("mDNS", daemon.log())

    def test_announced_once_avahi_is_back(self):
        stop_avahi()
        try:
            daemon = self.daemon(announced=False)
            client = daemon.connect()
            self.addCleanup(client.close)
            self.assertEqual(client.query("*OPC?"), "1")
            self.assertEqual(daemon.log().count("avahi-daemon is not running"), 1)
        finally:
            start_avahi()
        self.assertTrue(wait_until(lambda: "mDNS: announced as" in daemon.log(), 10))
        stop_avahi()
        start_avahi()
        self.assertTrue(wait_until(lambda: daemon.log().count("mDNS: announced as") == 2, 10))
        self.assertEqual(len(browse("_scpi-raw._tcp", daemon)), 1)


if __name__ == "__main__":
    unittest.main()
