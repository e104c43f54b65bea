"""The status page in a real browser: Debian's chromium, headless, driven by
python3-selenium, against kestrane-scpid and kestrane-sim; pyvisa changes
the generator meanwhile. Prints the page's load time and how long a change
takes to show. KESTRANE_PAGE_SCREENSHOT names a PNG file to take of the
page once two channels are set."""
import os
import sys
import tempfile
import time
import unittest

import pyvisa
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.common.by import By

from scpidprocesses import Daemon, Simulator, wait_until

# Nothing of the browser's own reaches out: no updates, sync or first run.
CHROMIUM_FLAGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                  "--disable-background-networking", "--disable-component-update",
                  "--disable-sync", "--disable-quic", "--no-first-run", "--window-size=1000,1600"]
# Set when channel 1's delay shows, on the page's own clock (ms since the epoch).
WATCH_CHANNEL_1 = """
window.channel1ShownAt = null;
const cell = document.getElementById('channels').tBodies[0].rows[0].cells[2];
new MutationObserver(() => {
  if (cell.textContent === arguments[0] && window.channel1ShownAt === null) {
    window.channel1ShownAt = Date.now();
  }
}).observe(cell, {childList: true, characterData: true, subtree: true});
"""


class StatusPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.profile = tempfile.TemporaryDirectory()
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in CHROMIUM_FLAGS + [f"--user-data-dir={cls.profile.name}"]:
            options.add_argument(flag)
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.profile.cleanup()

    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)
        self.browser.execute_cdp_cmd("Emulation.setScriptExecutionDisabled", {"value": False})

    def serve(self, link):
        simulator = Simulator(link)
        self.addCleanup(simulator.stop)
        daemon = Daemon("--port", link)
        self.addCleanup(daemon.stop)
        self.assertTrue(wait_until(lambda: "link up" in daemon.log(), 2))
        generator = pyvisa.ResourceManager("@py").open_resource(
            daemon.resource, read_termination="\n", write_termination="\n", timeout=2000)
        self.addCleanup(generator.close)
        return simulator, daemon, generator

    # Read in one go: the page's script may replace the diagram meanwhile.
    def table(self):
        return [tuple(row) for row in self.browser.execute_script(
            "return Array.from(document.querySelectorAll('#channels tbody tr'),"
            " (row) => Array.from(row.querySelectorAll('td:not(.label)'),"
            " (cell) => cell.textContent))")]

    def labels(self):
        return self.browser.execute_script(
            "return Array.from(document.querySelectorAll('#channels td.label'),"
            " (cell) => cell.textContent)")

    def diagram_titles(self):
        return self.browser.execute_script(
            "return Array.from(document.querySelectorAll('#diagram svg path title'),"
            " (title) => title.textContent)")

    def text(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

    def test_the_page_follows_the_generator(self):
        simulator, daemon, generator = self.serve(os.path.join(self.directory.name, "generator"))
        self.browser.get(daemon.url)
        load_ms = self.browser.execute_script(
            "return performance.getEntriesByType('navigation')[0].loadEventEnd")
        self.assertEqual(self.table(), [("unknown", "unknown")] * 16)
        self.assertEqual(self.diagram_titles(), [f"Channel {n}: unknown" for n in range(1, 17)])
        self.assertEqual(self.text("resources"), f"{daemon.resource}\n"
                         f"TCPIP::127.0.0.1::hislip0,{daemon.hislip_port}::INSTR")

        self.browser.execute_script(WATCH_CHANNEL_1, "1001")
        generator.write("PULS1:TIM 1NS,2NS;:PULS16:TIM 5000PS,600PS")
        self.assertEqual(generator.query("*OPC?"), "1")
        set_at_ms = time.time() * 1000
        self.assertTrue(wait_until(lambda: self.table()[15] == ("5005", "605"), 2))
        self.assertEqual(self.table(), [("1001", "2002")] + [("unknown", "unknown")] * 14
                         + [("5005", "605")])
        titles = self.diagram_titles()
        self.assertIn("Channel 1: delay 1001 ps, width 2002 ps", titles)
        self.assertIn("Channel 16: delay 5005 ps, width 605 ps", titles)
        shown_ms = self.browser.execute_script("return window.channel1ShownAt")
        print(f"\nstatus page: loaded in {load_ms:.0f} ms, a change shown "
              f"{shown_ms - set_at_ms:.0f} ms after it was made", file=sys.stderr)
        if os.environ.get("KESTRANE_PAGE_SCREENSHOT"):
            self.browser.save_screenshot(os.environ["KESTRANE_PAGE_SCREENSHOT"])

        # A label is text wherever the page shows it, never markup.
        label = "<script>alert(1)</script>"
        generator.write(f'PULS1:LAB "{label}"')
        self.assertTrue(wait_until(lambda: self.labels()[0] == label, 2))
        self.assertTrue(wait_until(
            lambda: f"Channel 1 ({label}): delay 1001 ps, width 2002 ps" in self.diagram_titles(),
            2))
        self.assertEqual(self.browser.execute_script(
            "return document.querySelectorAll('#channels script, #diagram script').length"), 0)
        self.assertRaises(NoAlertPresentException, lambda: self.browser.switch_to.alert.text)
        self.browser.refresh()
        self.assertEqual(self.labels()[0], label)
        self.assertRaises(NoAlertPresentException, lambda: self.browser.switch_to.alert.text)

        simulator.stop()  # hangs up as an unplugged generator would
        self.assertTrue(wait_until(lambda: self.text("link") == "down", 2))
        self.assertNotEqual(self.text("link-problem"), "")
        self.assertEqual(self.browser.find_element(By.ID, "unreachable").is_displayed(), False)

    def test_without_script_a_reload_shows_the_current_state(self):
        _, daemon, generator = self.serve(os.path.join(self.directory.name, "generator"))
        self.browser.execute_cdp_cmd("Emulation.setScriptExecutionDisabled", {"value": True})
        self.browser.get(daemon.url)
        self.assertEqual(self.table()[4], ("unknown", "unknown"))
        generator.write("PULS5:TIM 100PS,200PS")
        self.assertEqual(generator.query("*OPC?"), "1")
        time.sleep(1)
        self.assertEqual(self.table()[4], ("unknown", "unknown"))
        self.browser.refresh()
        self.assertEqual(self.table()[4], ("99", "198"))
        self.assertIn("Channel 5: delay 99 ps, width 198 ps", self.diagram_titles())

    def test_markup_in_the_port_is_shown_as_text(self):
        # Folders "<script>window.injected=1" and "1<" hold the link
        # "script>": the path reads .../<script>window.injected=1/1</script>.
        link = self.directory.name + "/<script>window.injected=1/1</script>"
        os.makedirs(os.path.dirname(link))
        _, daemon, _ = self.serve(link)
        # As the daemon wrote it, then as the page's script keeps it.
        for scripts_disabled in (True, False):
            self.browser.execute_cdp_cmd("Emulation.setScriptExecutionDisabled",
                                         {"value": scripts_disabled})
            self.browser.get(daemon.url)
            if not scripts_disabled:
                time.sleep(1)  # two refreshes
            self.assertEqual(self.text("port"), link)
            self.assertEqual(len(self.browser.find_elements(By.TAG_NAME, "script")), 1)
            self.assertIsNone(self.browser.execute_script("return window.injected"))

if __name__ == "__main__":
    unittest.main()
