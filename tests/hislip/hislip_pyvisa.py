"""kestrane-scpid's HiSLIP driven by Debian's pyvisa-py, which speaks HiSLIP
from 0.6 on (Debian 13's 0.7.2); skipped where it does not (Debian 12's
0.5.1). In a network namespace of the test's own, so that the daemon may
take HiSLIP's own port, 4880."""
import importlib.util
import os
import tempfile
import unittest

import pyvisa

from scpidprocesses import Daemon, Simulator, wait_until

RESOURCE = "TCPIP::127.0.0.1::hislip0::INSTR"


@unittest.skipIf(importlib.util.find_spec("pyvisa_py.protocols.hislip") is None,
                 "this pyvisa-py speaks no HiSLIP")
class PyvisaHislip(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        link = os.path.join(directory.name, "generator")
        self.simulator = Simulator(link)
        self.addCleanup(self.simulator.stop)
        self.daemon = Daemon("--port", link, hislip_port=4880)
        self.addCleanup(lambda: self.assertEqual(self.daemon.stop(), 0))
        self.assertTrue(wait_until(lambda: "link up" in self.daemon.log(), 5))
        self.manager = pyvisa.ResourceManager("@py")
        self.addCleanup(self.manager.close)

    def open(self, resource=RESOURCE):
        instrument = self.manager.open_resource(resource, read_termination="\n",
                                                write_termination="\n", timeout=2000)
        self.addCleanup(instrument.close)
        return instrument

    def test_a_session(self):
        generator = self.open()
        self.assertEqual(generator.query("*IDN?"), "Kestrane,kestrane-scpid,0,1.0.0")
        generator.write("PULS3:TIM 1NS,2NS")
        generator.write("PULSe16:TIMing 5NS,0.5NS")
        self.assertEqual(generator.query("PULS3:TIM?;:PULS16:TIM?"),
                         "1.001E-09,2.002E-09;5.005E-09,4.950E-10")
        # 100 KiB that asks for no answer: refused whole, as on the raw socket.
        generator.write("*OPC;" + " " * (100 * 1024) + "*CLS")
        self.assertEqual(generator.query("SYST:ERR?"),
                         '-223,"Too much data;a line is limited to 65536 bytes"')
        generator.clear()
        self.assertEqual(generator.query("*OPC?;PULS16:TIM?"), "1;5.005E-09,4.950E-10")
        self.assertEqual(self.simulator.logged("frame"), ["03091182", "16455045"])


if __name__ == "__main__":
    unittest.main()
