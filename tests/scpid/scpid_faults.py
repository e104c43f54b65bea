"""kestrane-scpid when its generator hangs up and when a new one appears."""
import os
import tempfile
import time
import unittest

import pyvisa

from scpidprocesses import Daemon, Simulator, wait_until


class GeneratorLost(unittest.TestCase):
    def test_hang_up_then_back_on_the_same_link(self):
        with tempfile.TemporaryDirectory() as directory:
            link = os.path.join(directory, "generator")
            first = Simulator(link, "--hangup-after", "2")
            daemon = Daemon("--port", link)
            manager = pyvisa.ResourceManager("@py")
            instrument = manager.open_resource(daemon.resource, read_termination="\n",
                                               write_termination="\n", timeout=2000)
            try:
                instrument.write("PULS1:TIM 1NS,1NS")
                instrument.write("PULS2:TIM 1NS,1NS")
                self.assertEqual(instrument.query("*OPC?"), "1")
                # It hangs up by itself after its second reply, as when unplugged.
                self.assertEqual(first.process.wait(5), 0)
                self.assertTrue(wait_until(lambda: instrument.query("*TST?") == "1", 2))
                self.assertEqual(instrument.query("SYST:LINK?"), f'"{link}",0')

                instrument.write("PULS3:TIM 1NS,1NS")
                self.assertTrue(instrument.query("SYST:ERR?").startswith("-241,"))
                self.assertEqual(instrument.query("*IDN?").split(",")[:2],
                                 ["Kestrane", "kestrane-scpid"])
                self.assertEqual(instrument.query("PULS1:TIM?"), "9.91E37,9.91E37")

                second = Simulator(link)
                appeared = time.monotonic()
                self.assertTrue(wait_until(lambda: instrument.query("*TST?") == "0", 2))
                self.assertLess(time.monotonic() - appeared, 2)
                instrument.write("PULS3:TIM 1NS,2NS")
                self.assertEqual(instrument.query("PULS3:TIM?"), "1.001E-09,2.002E-09")
                self.assertEqual(instrument.query("SYST:ERR?"), '0,"No error"')
                self.assertEqual(second.logged("frame"), ["03091182"])
                second.stop()
            finally:
                instrument.close()
                manager.close()
                self.assertEqual(daemon.stop(), 0)


if __name__ == "__main__":
    unittest.main()
