"""kestrane-scpid against what it does not own: a generator another program
holds, a log reader that goes away, too few file descriptors, lines at the
length limit."""
import os
import resource
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from scpidprocesses import SCPID, Daemon, Simulator, cpu_seconds, free_tcp_port, wait_until


class Resources(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.link = os.path.join(self.directory.name, "generator")
        self.simulator = Simulator(self.link)

    def tearDown(self):
        self.simulator.stop()
        self.directory.cleanup()

    def daemon(self, *arguments):
        """A daemon that is ended with the test, whatever its outcome."""
        daemon = Daemon(*arguments)
        self.addCleanup(daemon.stop)
        return daemon

    def test_one_generator_one_server(self):
        # The same device by another name, as /dev/serial/by-id/... and /dev/ttyACM0.
        other_name = os.path.join(self.directory.name, "by-id")
        os.symlink(os.readlink(self.link), other_name)
        first = self.daemon("--port", self.link)
        self.assertTrue(wait_until(lambda: "link up" in first.log(), 2))
        second = self.daemon("--port", other_name)
        client = second.connect()
        self.addCleanup(client.close)
        self.assertEqual(client.query("*TST?;SYST:LINK?"), f'1;"{other_name}",0')
        self.assertIn("in use by another program", second.log())
        self.assertEqual(first.stop(), 0)
        self.assertTrue(wait_until(lambda: client.query("*TST?") == "0", 2.5))

    def test_a_closed_log_pipe_does_not_end_it(self):
        port = free_tcp_port()
        daemon = subprocess.Popen([SCPID, "--port", self.link, "--tcp-port", str(port),
                                   "--verbose"], stderr=subprocess.PIPE)
        self.addCleanup(lambda: daemon.poll() is None and daemon.kill())
        daemon.stderr.readline()
        daemon.stderr.close()  # as `| head -1` does
        for _ in range(3):  # each exchange logs
            with socket.create_connection(("127.0.0.1", port), 2) as client:
                client.sendall(b"PULS1:TIM 0,0;*OPC?\n")
                self.assertEqual(client.makefile().readline(), "1\n")
        self.assertIsNone(daemon.poll())
        daemon.send_signal(signal.SIGTERM)
        self.assertEqual(daemon.wait(5), 0)

    # UBSan checks an object's type through a pipe it opens: a process with
    # no descriptor left makes it report a fault that is not there.
    @unittest.skipIf(os.environ.get("KESTRANE_SANITIZED"),
                     "the sanitizers need descriptors of their own")
    def test_too_few_descriptors(self):
        def limited(soft):
            return lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (soft, soft))

        refused = subprocess.run([SCPID, "--port", self.link, "--max-clients", "100"],
                                 preexec_fn=limited(40), capture_output=True, text=True, timeout=10)
        self.assertEqual(refused.returncode, 2)
        self.assertIn("100 clients and 16 web connections need 888 open files, but the limit is 40",
                      refused.stderr)

        daemon = self.daemon("--port", self.link, "--max-clients", "20")
        # Fewer descriptors than it planned for, as when something else used them
        # up; slots to spare, so that only descriptors run out.
        subprocess.run(["prlimit", f"--pid={daemon.process.pid}", "--nofile=22:22"], check=True)
        clients = [socket.create_connection(("127.0.0.1", daemon.tcp_port), 2) for _ in range(16)]
        self.assertTrue(wait_until(lambda: "not accepting clients for now" in daemon.log(), 2))
        spent = cpu_seconds(daemon.process.pid)
        time.sleep(1)
        self.assertLess(cpu_seconds(daemon.process.pid) - spent, 0.2)
        for client in clients:
            client.close()
        late = daemon.connect()
        self.addCleanup(late.close)
        self.assertEqual(late.query("*OPC?"), "1")
        self.assertEqual(daemon.stop(), 0)

    def test_line_length_limit_counts_the_line_end(self):
        client = self.daemon("--port", self.link).connect()
        self.addCleanup(client.close)
        # 65,536 bytes with the line feed: the longest line that runs.
        client.send("*OPC?;" + " " * (65536 - len("*OPC?;*OPC?") - 1) + "*OPC?")
        self.assertEqual(client.line(), "1;1\n")
        client.send("*OPC?;" + " " * (65537 - len("*OPC?;*OPC?") - 1) + "*OPC?")
        self.assertEqual(client.query("SYST:ERR?"),
                         '-223,"Too much data;a line is limited to 65536 bytes"')


if __name__ == "__main__":
    unittest.main()
