"""The daemon's record as clients written elsewhere see it: labels and setups
over pyvisa, a restart that restores the last or the saved settings, SIGKILL
in a flood of commands, a record that cannot be written, and kestrane-ctl
reading the journal while the daemon runs. The file is checked with SQLite's
own shell."""
import json
import os
import signal
import subprocess
import tempfile
import threading
import unittest

import pyvisa

from scpidprocesses import Daemon, Simulator, wait_until

CTL = os.environ["KESTRANE_CTL"]


def sqlite(path, query):
    return subprocess.run(["sqlite3", path, query], capture_output=True, text=True,
                          timeout=30).stdout


class Record(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)
        self.link = os.path.join(self.directory.name, "generator")
        self.record = os.path.join(self.directory.name, "record", "record.sqlite")
        self.simulator = Simulator(self.link)
        self.addCleanup(self.simulator.stop)
        self.daemons = []
        self.addCleanup(self.stop_daemons)

    def serve(self, *arguments):
        daemon = Daemon("--port", self.link, "--record", self.record, *arguments)
        self.daemons.append(daemon)
        self.assertTrue(wait_until(lambda: "link up" in daemon.log(), 5), daemon.log())
        return daemon

    def stop_daemons(self):
        while self.daemons:
            daemon = self.daemons.pop()
            if daemon.process.poll() is None:
                self.assertEqual(daemon.stop(), 0)

    def instrument(self, daemon):
        instrument = pyvisa.ResourceManager("@py").open_resource(
            daemon.resource, read_termination="\n", write_termination="\n", timeout=5000)
        self.addCleanup(instrument.close)
        return instrument

    def errors(self, instrument):
        return instrument.query("SYST:ERR:ALL?")

    def test_labels_and_setups(self):
        gen = self.instrument(self.serve())
        gen.write('PULS3:LAB "camera ""gate"""')
        self.assertEqual(gen.query("PULS3:LAB?;:PULS4:LAB?"), '"camera ""gate""";""')
        for refused in ('"' + "x" * 33 + '"', '"a\tb"'):
            gen.write(f"PULS3:LAB {refused}")
            self.assertTrue(self.errors(gen).startswith("-224,"), refused)
        gen.write_raw(b'PULS3:LAB "\xff\xfe"\n')
        self.assertTrue(self.errors(gen).startswith("-224,"))
        self.assertEqual(gen.query("PULS3:LAB?"), '"camera ""gate"""')

        gen.write("PULS3:TIM 1NS,2NS;:PULS4:TIM 0,11PS")
        hostile = ["'; DROP TABLE journal; --", "../../etc/passwd"]
        for name in ["scan"] + hostile:
            gen.write(f'MMEM:STOR:STAT "{name}"')
        gen.write('MMEM:STOR:STAT "' + "n" * 65 + '"')
        self.assertTrue(self.errors(gen).startswith("-257,"))
        self.assertEqual(gen.query("MMEM:CAT:STAT?"),
                         '"\'; DROP TABLE journal; --","../../etc/passwd","scan"')
        self.assertEqual(gen.query('*RST;:PULS3:LAB "";*OPC?'), "1")
        sent_before = len(self.simulator.logged("frame"))
        self.assertEqual(gen.query('MMEM:LOAD:STAT "scan";*OPC?'), "1")
        self.assertEqual(self.simulator.logged("frame")[sent_before:], ["03091182", "04000001"])
        self.assertEqual(gen.query("PULS3:TIM?;LAB?"), '1.001E-09,2.002E-09;"camera ""gate"""')
        gen.write('MMEM:LOAD:STAT "nothing";:MMEM:DEL "scan";:MMEM:DEL "scan"')
        self.assertEqual([error.split(",")[0] for error in self.errors(gen).split('",')],
                         ["-256", "-256"])
        self.assertEqual(sqlite(self.record, "PRAGMA integrity_check"), "ok\n")

    def test_restore_last_and_saved_send_exactly_those_frames(self):
        gen = self.instrument(self.serve())
        gen.write("PULS1:TIM 1NS,2NS;:PULS2:TIM 0,0;*SAV 0;:PULS1:TIM 3NS,1NS")
        gen.write("PULS5:TIM 5NS,1NS")  # over the budget: refused, never sent
        self.assertEqual(gen.query("*OPC?"), "1")
        gen.close()
        self.stop_daemons()

        for restore, frames, channel1 in (("last", ["01273091", "02000000"], "3.003E-09,1.001E-09"),
                                          ("saved", ["01091182", "02000000"], "1.001E-09,2.002E-09")):
            sent_before = len(self.simulator.logged("frame"))
            daemon = self.serve("--restore", restore)
            self.assertTrue(wait_until(
                lambda: len(self.simulator.logged("frame")) >= sent_before + 2, 5))
            self.assertEqual(self.instrument(daemon).query("PULS1:TIM?"), channel1, restore)
            self.assertEqual(self.simulator.logged("frame")[sent_before:], frames, restore)
            self.stop_daemons()
        self.assertEqual(sqlite(self.record, "SELECT count(*) FROM journal WHERE client = 'restore'"),
                         "4\n")

    def test_sigkill_in_a_flood_keeps_every_acknowledged_command(self):
        daemon = self.serve()
        client = daemon.connect()
        lines = "".join(f"PULS{n % 16 + 1}:TIM {n % 256 * 11}PS,0;*OPC?\n" for n in range(5000))
        writer = threading.Thread(target=lambda: (client.stream.write(lines.encode()),
                                                  client.stream.flush()), daemon=True)
        writer.start()
        acknowledged = 0
        while acknowledged < 1500 and client.line() == "1\n":
            acknowledged += 1
        daemon.process.send_signal(signal.SIGKILL)
        daemon.process.wait(5)
        self.assertEqual(acknowledged, 1500)
        self.assertEqual(sqlite(self.record, "PRAGMA integrity_check"), "ok\n")
        kept = sqlite(self.record, f"SELECT frame FROM journal ORDER BY id LIMIT {acknowledged}")
        self.assertEqual(kept.split(), [f"{n % 16 + 1:02}{n % 256:03}000" for n in range(acknowledged)])

    def test_a_record_that_cannot_be_written_leaves_control_alone(self):
        folder = os.path.dirname(self.record)
        os.makedirs(folder)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "ro", "tmpfs", folder], check=True)
        self.addCleanup(subprocess.run, ["umount", folder])
        self.addCleanup(self.stop_daemons)  # first: they hold the folder
        daemon = self.serve()
        self.assertIn("the record does not work", daemon.log())
        gen = self.instrument(daemon)
        gen.write("PULS1:TIM 1NS,2NS")
        self.assertEqual(gen.query("PULS1:TIM?"), "1.001E-09,2.002E-09")
        self.assertEqual(self.simulator.logged("frame"), ["01091182"])
        errors = self.errors(gen)
        self.assertTrue(errors.startswith("-250,"), errors)
        self.assertEqual(errors.count("-250"), 1)
        gen.write('PULS1:LAB "pump"')
        self.assertTrue(self.errors(gen).startswith("-250,"))

        subprocess.run(["mount", "-o", "remount,rw", folder], check=True)
        self.assertTrue(wait_until(lambda: (gen.write("PULS1:TIM 1NS,2NS"), gen.query("*OPC?"))
                                   and "works again" in daemon.log(), 5), daemon.log())
        self.assertIn("01091182", sqlite(self.record, "SELECT frame FROM journal"))

    def test_ctl_reads_the_journal_while_the_daemon_runs(self):
        gen = self.instrument(self.serve())
        gen.write("PULS3:TIM 1NS,2NS;*SAV 0")
        self.assertEqual(gen.query("*OPC?"), "1")
        done = subprocess.run([CTL, "--record", self.record, "--port", self.link, "journal",
                               "--json"], capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        entries = [json.loads(line) for line in done.stdout.splitlines()]
        client = entries[0]["client"]
        self.assertTrue(client.startswith("socket 127.0.0.1:"), client)
        for entry in entries:
            del entry["time"]
        self.assertEqual(entries, [
            {"channel": 3, "client": client, "delayPs": 1001, "frame": "03091182",
             "generator": f"port {self.link}", "outcome": "ok", "program": "kestrane-scpid",
             "reply": "OK\\r\\n", "widthPs": 2002},
            {"channel": None, "client": client, "delayPs": None, "frame": "SAV",
             "generator": f"port {self.link}", "outcome": "ok", "program": "kestrane-scpid",
             "reply": "OK\\r\\n", "widthPs": None}])


if __name__ == "__main__":
    unittest.main()
