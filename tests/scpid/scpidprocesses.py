"""kestrane-scpid and kestrane-sim as child processes, for the daemon's tests.

CTest names the two programs in KESTRANE_SCPID and KESTRANE_SIM.
"""
import os
import signal
import socket
import subprocess
import tempfile
import time

SCPID = os.environ["KESTRANE_SCPID"]
SIM = os.environ["KESTRANE_SIM"]
WAIT_S = 5


def free_tcp_port():
    return free_tcp_ports(1)[0]


def free_tcp_ports(count):
    """Distinct ports of 127.0.0.1 that nothing listens on."""
    probes = [socket.socket() for _ in range(count)]
    try:
        for probe in probes:
            probe.bind(("127.0.0.1", 0))
        return [probe.getsockname()[1] for probe in probes]
    finally:
        for probe in probes:
            probe.close()


class Simulator:
    """kestrane-sim --verbose on a pseudo-terminal reachable at `link`."""

    def __init__(self, link, *arguments):
        self.errors = tempfile.NamedTemporaryFile()
        self.process = subprocess.Popen([SIM, "--verbose", "--link", link, *arguments],
                                        stdout=subprocess.PIPE, stderr=self.errors)
        if not self.process.stdout.readline().strip():
            raise RuntimeError("kestrane-sim did not start")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        return self.process.wait(WAIT_S)

    def logged(self, kind):
        """What it logged after `kind`, e.g. the frames it received."""
        prefix = f"kestrane-sim: {kind} "
        return [line[len(prefix):] for line in read_log(self.errors).splitlines()
                if line.startswith(prefix)]


class Daemon:
    """kestrane-scpid on free TCP ports of 127.0.0.1 (SCPI, HiSLIP unless
    told which, and the status page), ready to take clients."""

    def __init__(self, *arguments, hislip_port=None):
        self.tcp_port, self.http_port, free_port = free_tcp_ports(3)
        self.hislip_port = hislip_port or free_port
        self.errors = tempfile.NamedTemporaryFile()
        self.process = subprocess.Popen(
            [SCPID, "--tcp-port", str(self.tcp_port), "--http-port", str(self.http_port),
             *([] if "--no-hislip" in arguments else ["--hislip-port", str(self.hislip_port)]),
             "--verbose", *arguments],
            stderr=self.errors)
        # It says so once it listens ("not serving VXI-11" comes before); a
        # probing connection would take a client's place.
        if not wait_until(lambda: "kestrane-scpid: serving " in self.log()
                          or self.process.poll() is not None,
                          WAIT_S) or self.process.poll() is not None:
            raise RuntimeError("kestrane-scpid did not start listening: " + self.log())

    @property
    def resource(self):
        return f"TCPIP::127.0.0.1::{self.tcp_port}::SOCKET"

    @property
    def url(self):
        return f"http://127.0.0.1:{self.http_port}"

    def connect(self):
        return Client(socket.create_connection(("127.0.0.1", self.tcp_port), WAIT_S))

    def stop(self):
        """Ends it with SIGTERM; its exit code."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        return self.process.wait(WAIT_S)

    def log(self):
        return read_log(self.errors)


def registered_programs():
    """What the portmapper on 127.0.0.1 lists, as rpcinfo -p prints it."""
    return subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True,
                          timeout=10).stdout


class Portmapper:
    """rpcbind in the foreground, for VXI-11: the test's own, ended by its pid."""

    def __init__(self):
        self.process = subprocess.Popen(["rpcbind", "-f", "-w"])
        if not wait_until(lambda: "portmapper" in registered_programs(), WAIT_S):
            self.stop()
            raise RuntimeError("rpcbind did not start")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        self.process.wait(WAIT_S)


class Client:
    """A plain socket client: lines out, lines in."""

    def __init__(self, connection):
        self.connection = connection
        self.stream = connection.makefile("rwb")

    def send(self, text):
        self.stream.write(text.encode() + b"\n")
        self.stream.flush()

    def line(self):
        return self.stream.readline().decode()

    def query(self, text):
        self.send(text)
        return self.line().rstrip("\n")

    def close(self):
        self.stream.close()
        self.connection.close()


def read_log(file):
    """A child's log so far. Read through a file of its own: moving the
    child's shared file offset would make it write over what it wrote."""
    with open(file.name, "rb") as log:
        return log.read().decode()


def cpu_seconds(pid):
    """The CPU time a process has used so far."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def resident_mib(pid):
    """A process's resident memory now."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    raise RuntimeError(f"no VmRSS for {pid}")


def wait_until(condition, timeout_s, interval_s=0.02):
    deadline = time.monotonic() + timeout_s
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(interval_s)
    return True
