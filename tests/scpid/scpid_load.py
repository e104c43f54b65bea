"""Eight clients at once, 500 commands each, against a slow, splitting simulator."""
import collections
import os
import tempfile
import threading
import unittest

from scpidprocesses import Daemon, Simulator

CLIENTS = 8
COMMANDS = 500


def frame(channel, step):
    return f"{channel:02d}{step:03d}{250 - step:03d}"


def seconds(steps):
    return f"{steps * 11e-12:.3E}"


class Load(unittest.TestCase):
    def test_interleaved_clients(self):
        with tempfile.TemporaryDirectory() as directory:
            link = os.path.join(directory, "generator")
            simulator = Simulator(link, "--split", "1", "--reply-delay", "1")
            daemon = Daemon("--port", link)
            answers = {}

            def drive(channel):
                # Every other command sets the client's own channel, the others
                # ask for it: each answer tells which set came last.
                client = daemon.connect()
                lines, expected = [], []
                for step in range(COMMANDS // 2):
                    lines.append(f"PULS{channel}:TIM {step * 11}PS,{(250 - step) * 11}PS")
                    lines.append(f"PULS{channel}:TIM?")
                    expected.append(f"{seconds(step)},{seconds(250 - step)}")
                client.stream.write("".join(line + "\n" for line in lines).encode())
                client.stream.flush()
                received = [client.line().rstrip("\n") for _ in expected]
                trailer = client.query("SYST:ERR?;*OPC?")
                answers[channel] = (received == expected, trailer, received[:2])
                client.close()

            threads = [threading.Thread(target=drive, args=(n,)) for n in range(1, CLIENTS + 1)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join(120)
            self.assertEqual(daemon.stop(), 0)
            simulator.stop()

            for channel in range(1, CLIENTS + 1):
                in_order, trailer, first = answers[channel]
                self.assertTrue(in_order, f"client {channel}: {first}...")
                self.assertEqual(trailer, '0,"No error";1', f"client {channel}")
            frames = simulator.logged("frame")
            sent = [frame(channel, step) for channel in range(1, CLIENTS + 1)
                    for step in range(COMMANDS // 2)]
            self.assertEqual(collections.Counter(frames), collections.Counter(sent))
            for channel in range(1, CLIENTS + 1):
                own = [f for f in frames if f.startswith(f"{channel:02d}")]
                self.assertEqual(own, [frame(channel, step) for step in range(COMMANDS // 2)])
            interleaved = sum(1 for a, b in zip(frames, frames[1:]) if a[:2] != b[:2])
            self.assertGreater(interleaved, CLIENTS, "the clients' frames should interleave")


if __name__ == "__main__":
    unittest.main()
