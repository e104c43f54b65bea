"""kestrane-tango driven by Debian's python3-tango against kestrane-sim.

CTest names the server in KESTRANE_TANGO_SERVER and puts the daemon tests'
process helpers on PYTHONPATH.
"""
import os
import signal
import subprocess
import tempfile
import time
import unittest

import tango

from scpidprocesses import Daemon, Simulator, free_tcp_port, wait_until

SERVER = os.environ["KESTRANE_TANGO_SERVER"]
CLASS = "KestranePulseGenerator"
DEVICE = "lab/kestrane/1"
STATE_HEADER = "# Pulse generator state: channel, delay and width in 11 ps steps\n"


def connect(address):
    """The device once it answers a ping: in file database mode the port
    listens before the device is exported, and a proxy made before then
    stays unusable."""
    found = []

    def answers():
        try:
            device = tango.DeviceProxy(address)
            device.ping()
            found.append(device)
            return True
        except tango.DevFailed:
            return False

    if not wait_until(answers, 5):
        raise RuntimeError(f"no answer from {address}")
    return found[0]


class TangoClient(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.link = os.path.join(self.directory.name, "generator")
        self.state = os.path.join(self.directory.name, "state.txt")
        self.database = os.path.join(self.directory.name, "devices.db")
        self.record = os.path.join(self.directory.name, "record.sqlite")
        self.simulator = Simulator(self.link, "--state", self.state)
        self.server = None
        self.start_server()

    def start_server(self, *options, restore=None, **popen):
        self.launch_server(*options, restore=restore, **popen)
        self.device = connect(f"tango://127.0.0.1:{self.port}/{DEVICE}#dbase=no")

    def launch_server(self, *options, restore=None, **popen):
        """The server with `options` after Tango's arguments (by default its
        record in the test's folder) and the device's Restore property if
        given."""
        self.stop_server()
        # Afresh: Tango rewrites the file, and a server killed meanwhile
        # leaves it cut short.
        with open(self.database, "w") as file:
            file.write(f'kestrane-tango/test/DEVICE/{CLASS}: "{DEVICE}"\n'
                       f'{DEVICE}->Port: "{self.link}"\n'
                       f"{DEVICE}->ReplyTimeout: 100\n")
            if restore is not None:
                file.write(f"{DEVICE}->Restore: {restore}\n")
        self.port = free_tcp_port()
        self.server = subprocess.Popen([SERVER, "test", f"-file={self.database}",
                                        "-ORBendPoint", f"giop:tcp:127.0.0.1:{self.port}",
                                        *(options or ("--record", self.record))], **popen)

    def stop_server(self):
        if self.server is not None and self.server.poll() is None:
            self.server.kill()
            self.server.wait()

    def tearDown(self):
        self.stop_server()
        self.simulator.stop()
        self.directory.cleanup()

    def admin(self):
        # Exported after the device: asked for too early, it is not found.
        return connect(f"tango://127.0.0.1:{self.port}/dserver/kestrane-tango/test#dbase=no")

    def assertRefused(self, action, reason, *words):
        with self.assertRaises(tango.DevFailed) as refusal:
            action()
        error = refusal.exception.args[0]
        self.assertEqual(error.reason, reason, error.desc)
        for word in words:
            self.assertIn(word, error.desc)

    def assertState(self, state, within_s):
        def reached():
            try:
                return self.device.state() == state
            except tango.DevFailed:  # e.g. while the server restarts
                return False
        self.assertTrue(wait_until(reached, within_s),
                        f"{self.device.state()} ({self.device.status()}), not {state}")

    def quality(self, name):
        return self.device.read_attribute(name).quality

    def sql(self, query):
        """Rows from SQLite's own shell, reading while the server writes."""
        shell = subprocess.run(["sqlite3", "-separator", "|", self.record, query],
                               capture_output=True, encoding="utf-8", check=True,
                               timeout=10)
        return shell.stdout.splitlines()

    def frames_after_restart(self, *options, restore=None):
        """What the simulator receives from a server started anew."""
        before = len(self.simulator.logged("frame"))
        self.start_server(*options, restore=restore)
        self.assertState(tango.DevState.ON, 3)
        self.quality("channel1Delay")  # answered once the restore, queued first, is sent
        return self.simulator.logged("frame")[before:]

    def test_sets_saves_and_survives_a_hang_up(self):
        device = self.device
        self.assertState(tango.DevState.ON, 2)

        # Nothing is known before this server sets a channel.
        self.assertEqual(self.quality("channel1Delay"), tango.AttrQuality.ATTR_INVALID)
        self.assertRefused(lambda: device.write_attribute("channel1Delay", 11),
                           "ValueUnknown", "SetChannel")

        events = []
        device.subscribe_event("channel16Delay", tango.EventType.CHANGE_EVENT, events.append)

        # Both edges of the budget, then single values rounded to the step.
        device.SetChannel([1, 0, 5621])
        device.SetChannel([16, 5621, 0])
        device.write_attribute("channel1Width", 2000.4)
        device.write_attribute("channel1Delay", 5.5)
        device.write_attribute("channel16Delay", 5615.4)
        names = ["channel1Delay", "channel1Width", "channel16Delay", "channel16Width"]
        self.assertEqual([device.read_attribute(name).value for name in names],
                         [11.0, 2002.0, 5610.0, 0.0])
        sent = ["01000511", "16511000", "01000182", "01001182", "16510000"]
        self.assertEqual(self.simulator.logged("frame"), sent)

        # Refused, with nothing sent and nothing clamped.
        self.assertRefused(lambda: device.SetChannel([16, 3000, 3000]),
                           "BudgetExceeded", "546 steps")
        self.assertRefused(lambda: device.write_attribute("channel1Delay", 5621), "BudgetExceeded")
        self.assertRefused(lambda: device.write_attribute("channel1Width", 5621.5), "OutOfRange")
        self.assertRefused(lambda: device.write_attribute("channel16Width", -1), "OutOfRange")
        self.assertRefused(lambda: device.SetChannel([17, 0, 0]),
                           "API_IncompatibleCmdArgumentType")
        self.assertEqual(self.simulator.logged("frame"), sent)

        # Pushed by the server: nothing polls the attribute.
        self.assertTrue(wait_until(lambda: any(
                event.attr_value is not None and event.attr_value.value == 5610.0
                for event in events), 2))

        device.Save()
        self.assertEqual(self.simulator.logged("frame")[-1:], ["SAV"])
        lines = {1: "1 1 182", 16: "16 510 0"}
        with open(self.state) as saved:
            self.assertEqual(saved.read(), STATE_HEADER + "".join(
                    lines.get(n, f"{n} 0 0") + "\n" for n in range(1, 17)))

        # The generator hangs up: noticed without any client asking.
        self.simulator.stop()
        time.sleep(1.5)
        self.assertEqual(device.state(), tango.DevState.FAULT)
        self.assertIn(self.link, device.status())
        self.assertRefused(device.Save, "LinkDown")

        self.simulator = Simulator(self.link, "--state", self.state)
        self.assertState(tango.DevState.ON, 3)
        self.assertEqual(self.quality("channel1Delay"), tango.AttrQuality.ATTR_INVALID)
        device.SetChannel([1, 11, 22])
        self.assertEqual(self.simulator.logged("frame"), ["01001002"])

        self.admin().command_inout("Kill")
        self.assertEqual(self.server.wait(5), 0)

    def test_restart_server_comes_back_with_its_session(self):
        self.device.SetChannel([1, 11, 22])
        self.admin().command_inout("RestartServer")

        def restarted():  # a new device with a new session: channel 1 unknown
            try:
                return self.quality("channel1Delay") == tango.AttrQuality.ATTR_INVALID
            except tango.DevFailed:
                return False
        self.assertTrue(wait_until(restarted, 5))
        self.assertState(tango.DevState.ON, 3)
        self.device.SetChannel([2, 33, 44])
        self.assertEqual(self.simulator.logged("frame"), ["01001002", "02003004"])
        self.assertIsNone(self.server.poll())

    def test_sigint_at_any_moment_of_start_up_exits_0(self):
        for attempt in range(20):
            with self.subTest(attempt=attempt):
                self.start_server()  # returns once the device first answers
                time.sleep(attempt * 0.015 / 19)
                self.server.send_signal(signal.SIGINT)
                self.assertEqual(self.server.wait(5), 0)

    def test_closed_log_pipe_does_not_end_the_server(self):
        self.start_server(stderr=subprocess.PIPE)
        self.assertState(tango.DevState.ON, 2)
        self.server.stderr.close()
        for channel in range(1, 4):
            self.device.SetChannel([channel, 11, 22])
        self.assertEqual(len(self.simulator.logged("frame")), 3)
        self.assertIsNone(self.server.poll())

    def test_declares_properties_units_and_description(self):
        offered = self.admin().command_inout("QueryWizardDevProperty", CLASS)
        self.assertEqual(offered[0::3], ["Port", "ReplyTimeout", "Restore"])
        self.assertEqual(offered[2::3], ["Not specified", "100", "Not specified"])
        self.assertIn("/dev/serial/by-id/", offered[1])
        self.assertIn("1 to 10000", offered[4])
        self.assertIn("--restore", offered[7])
        configuration = self.device.get_attribute_config("channel3Width")
        self.assertEqual((configuration.unit, configuration.standard_unit), ("ps", "1e-12"))
        self.assertIn("Channel 3 width in ps", configuration.description)
        self.assertIn("pulse generator", self.device.description())

    def test_generator_refusal_is_an_error(self):
        self.simulator.stop()
        missing = os.path.join(self.directory.name, "missing", "state.txt")
        self.simulator = Simulator(self.link, "--state", missing)
        self.assertState(tango.DevState.ON, 3)
        self.assertRefused(self.device.Save, "GeneratorRefused", "ERR", "SAV")

    def test_link_changes_are_pushed_with_their_quality(self):
        changes, archived, states = [], [], []
        device = self.device
        device.subscribe_event("channel5Width", tango.EventType.CHANGE_EVENT, changes.append)
        device.subscribe_event("channel5Width", tango.EventType.ARCHIVE_EVENT, archived.append)
        device.subscribe_event("State", tango.EventType.CHANGE_EVENT, states.append)
        device.SetChannel([5, 0, 55])
        self.simulator.stop()

        def seen(events):
            return [(event.attr_value.quality, event.attr_value.value)
                    for event in events if event.attr_value is not None]
        invalid = (tango.AttrQuality.ATTR_INVALID, None)
        expected = [invalid, (tango.AttrQuality.ATTR_VALID, 55.0), invalid]
        for events in (changes, archived):
            self.assertTrue(wait_until(lambda: seen(events) == expected, 3), seen(events))

        self.simulator = Simulator(self.link)
        expected = [tango.DevState.ON, tango.DevState.FAULT, tango.DevState.ON]
        self.assertTrue(wait_until(lambda: [event.attr_value.value for event in states
                                            if event.attr_value] == expected, 3))

    def test_delay_and_width_written_together_go_out_in_one_frame(self):
        device = self.device
        device.write_attributes([("channel2Delay", 110), ("channel2Width", 220)])
        self.assertEqual(self.simulator.logged("frame"), ["02010020"])
        for pair in ([330, 5622], [3000, 3000]):
            with self.assertRaises(tango.DevFailed):
                device.write_attributes(list(zip(["channel2Delay", "channel2Width"], pair)))
        self.assertEqual(self.simulator.logged("frame"), ["02010020"])
        self.assertEqual([device.read_attribute(name).value
                          for name in ("channel2Delay", "channel2Width")], [110.0, 220.0])

    def test_generator_held_by_another_program_under_another_name(self):
        self.stop_server()
        other_name = os.path.join(self.directory.name, "same-generator")
        os.symlink(os.readlink(self.link), other_name)
        holder = Daemon("--port", other_name)
        try:
            self.assertTrue(wait_until(lambda: "link up" in holder.log(), 3), holder.log())
            self.start_server()
            self.assertState(tango.DevState.FAULT, 3)
            self.assertIn("in use by another program", self.device.status())
        finally:
            holder.stop()
        self.assertState(tango.DevState.ON, 3)

    def test_labels_are_kept_in_the_record(self):
        device = self.device
        self.assertState(tango.DevState.ON, 2)
        events = []
        device.subscribe_event("channel1Label", tango.EventType.CHANGE_EVENT, events.append)
        # Written with a refused delay, and not reported as refused with it.
        with self.assertRaises(tango.DevFailed) as refusal:
            device.write_attributes([("channel1Label", "pump"), ("channel2Delay", 11)])
        self.assertRegex(refusal.exception.args[0].desc, "object[(]s[)] channel2Delay$")
        hostile = "'; DROP TABLE journal; --"
        device.channel16Label = hostile
        self.assertEqual([device.channel1Label, device.channel2Label, device.channel16Label],
                         ["pump", "", hostile])
        self.assertTrue(wait_until(lambda: [event.attr_value.value for event in events
                                            if event.attr_value] == ["", "pump"], 3))

        # Refused whole, with the reason; nothing changed.
        self.assertRefused(lambda: device.write_attribute("channel1Label", "x" * 33),
                           "BadLabel", "at most 32 characters, not 33")
        self.assertRefused(lambda: device.write_attribute("channel1Label", "gate\n2"),
                           "BadLabel", "character 5", "not printable")
        device.write_attribute("channel2Label", "é" + "x" * 31)  # Latin-1, as Tango's strings
        self.assertEqual([device.channel1Label, device.channel2Label], ["pump", "é" + "x" * 31])

        # In the record, not the Tango database (written afresh at each start).
        self.start_server()
        self.assertEqual(self.device.channel1Label, "pump")
        self.assertEqual(self.sql("PRAGMA integrity_check"), ["ok"])
        self.assertEqual(self.sql("SELECT channel, label FROM channels WHERE label != '' "
                                  "ORDER BY channel"),
                         ["1|pump", "2|é" + "x" * 31, f"16|{hostile}"])

    def test_setups_are_saved_loaded_and_deleted(self):
        device = self.device
        device.SetChannel([1, 11, 22])
        device.SetChannel([3, 110, 220])
        device.channel3Label = "probe"
        device.SaveSetup("pump probe")
        device.SaveSetup("alignment")
        self.assertEqual(device.Setups, ("alignment", "pump probe"))
        device.Reset()
        device.channel3Label = ""
        sent = len(self.simulator.logged("frame"))
        device.LoadSetup("pump probe")
        self.assertEqual(self.simulator.logged("frame")[sent:], ["01001002", "03010020"])
        self.assertEqual([device.channel3Delay, device.channel3Label], [110.0, "probe"])

        device.DeleteSetup("alignment")
        self.assertEqual(device.Setups, ("pump probe",))
        for command in ("LoadSetup", "DeleteSetup"):
            self.assertRefused(lambda: device.command_inout(command, "alignment"),
                               "SetupNotFound", "alignment")
        self.assertRefused(lambda: device.SaveSetup("x" * 65), "BadSetupName", "64")
        self.assertEqual(len(self.simulator.logged("frame")), sent + 2)

        # Every frame in the journal: who sent it and what became of it.
        query = "SELECT program, client, frame, outcome FROM journal ORDER BY id"
        self.assertTrue(wait_until(lambda: self.sql(query)[-1].endswith("|ok"), 3))
        rows = self.sql(query)
        self.assertEqual(len(rows), 20)
        self.assertEqual(rows[-2:], ["kestrane-tango|tango|01001002|ok",
                                     "kestrane-tango|tango|03010020|ok"])

    def test_restore_sends_the_last_settings_after_a_restart(self):
        self.start_server("--record", self.record, "--restore", "last")
        self.device.SetChannel([2, 33, 44])
        self.device.SetChannel([5, 55, 66])
        self.device.SetChannel([2, 77, 88])
        self.assertEqual(self.frames_after_restart("--restore", "last", "--record", self.record),
                         ["02007008", "05005006"])
        self.assertEqual(self.device.channel2Delay, 77.0)
        self.assertEqual(self.sql("SELECT DISTINCT client FROM journal WHERE id > 3"),
                         ["restore"])

        # The device's property wins over the option, either way.
        self.assertEqual(self.frames_after_restart("--record", self.record, "--restore=last",
                                                   restore="none"), [])
        self.assertEqual(self.quality("channel2Delay"), tango.AttrQuality.ATTR_INVALID)
        self.assertEqual(self.frames_after_restart("--record", self.record, restore="last"),
                         ["02007008", "05005006"])

    def test_bad_restore_is_refused(self):
        usage = subprocess.run([SERVER, "test", "--restore", "sometimes"],
                               capture_output=True, text=True, timeout=10)
        self.assertEqual((usage.returncode, usage.stdout), (2, ""))
        self.assertIn('--restore takes none, last or saved, not "sometimes"', usage.stderr)
        self.launch_server(restore="sometimes", stderr=subprocess.PIPE)
        errors = self.server.communicate(timeout=10)[1].decode()
        self.assertEqual(self.server.returncode, 1)
        self.assertIn('Restore must be none, last or saved, not "sometimes"', errors)

    def test_a_record_that_does_not_work_is_in_the_status(self):
        blocked = os.path.join(self.directory.name, "blocked")
        open(blocked, "w").close()  # a file where the record's folder should be
        self.record = os.path.join(blocked, "record.sqlite")
        self.start_server()
        self.assertState(tango.DevState.ON, 2)
        self.assertIn("The record does not work", self.device.status())
        self.assertRefused(lambda: self.device.channel1Label, "RecordUnavailable", blocked)
        self.device.SetChannel([1, 11, 22])  # control goes on

        os.remove(blocked)
        os.mkdir(blocked)

        def works_again():  # tried again at most once a second, when written
            try:
                self.device.channel1Label = "pump"
                return True
            except tango.DevFailed:
                return False
        self.assertTrue(wait_until(works_again, 5))
        self.assertNotIn("record", self.device.status())
        self.assertEqual(self.device.channel1Label, "pump")


if __name__ == "__main__":
    unittest.main()
