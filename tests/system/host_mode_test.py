#!/usr/bin/env python3
"""Host-address mode across the sandbox's veth pair: the SDK started with a host address and no
configuration file queries a LiDAR on its own /24, takes the ports the LiDAR reports, configures
it and receives its streams; a LiDAR on another segment is refused; a Forward unit that refuses
its configuration is asked again once per detection period.

    host_mode_test.py --probe HOST_MODE_PROBE --sim LIDAR_SIM   (under netns-run --veth)
"""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Process, WorkDir, options, run_tests  # noqa: E402

ARGS = None
HOST_IP = os.environ.get("SANDBOX_HOST_IP", "192.168.1.50")
LIDAR_IP = os.environ.get("SANDBOX_LIDAR_IP", "192.168.1.12")
LIDAR_NS = os.environ.get("SANDBOX_LIDAR_NS", "")
OTHER_SEGMENT_IP = "192.168.2.77"
REFUSING_IP = "192.168.1.13"
PROBE_SECONDS = 6


def in_lidar_namespace():
    return ("ip", "netns", "exec", LIDAR_NS)


class HostAddressMode(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not LIDAR_NS:
            raise unittest.SkipTest("needs netns-run --veth")
        for address in (OTHER_SEGMENT_IP, REFUSING_IP):
            subprocess.run([*in_lidar_namespace(), "ip", "addr", "add", f"{address}/24",
                            "dev", "sb-lidar"], check=True)

    def test_view_lidar_on_the_segment_is_configured_and_streams(self):
        work = WorkDir("hostmode").path
        # A unit that kept the host ports of an earlier session: keys 6 and 7 report them.
        near = Process("near", [ARGS.sim, "--ip", LIDAR_IP, "--gateway", HOST_IP,
                                "--preconfigured", HOST_IP, "--host-ports", "56201,56301,56401"],
                       work, prefix=in_lidar_namespace())
        far = Process("far", [ARGS.sim, "--ip", OTHER_SEGMENT_IP, "--sn", "FAR000000077"],
                      work, prefix=in_lidar_namespace())
        refusing = Process("refusing", [ARGS.sim, "--ip", REFUSING_IP, "--type", "forward",
                                        "--sn", "FWD000000013", "--refuse-config"],
                           work, prefix=in_lidar_namespace())
        probe = Process("probe", [ARGS.probe, HOST_IP, str(PROBE_SECONDS)], work)
        probe.proc.wait(timeout=30)
        probe.stop()
        near.stop()
        far.stop()
        refusing.stop()
        text = probe.text()
        logs = probe.tail(40) + "\n" + near.tail()

        self.assertIn(f"Host ip:{HOST_IP}, lidar ip:{LIDAR_IP}", text, logs)
        # The ports of keys 6 and 7 went back to the unit in the two-entry view request.
        self.assertIn(f"0x0006={HOST_IP}:56301 0x0007={HOST_IP}:56401 -> accepted", near.text(),
                      logs)
        counts = re.search(r"\[PROBE\] points=(\d+) imu=(\d+)", text)
        self.assertIsNotNone(counts, logs)
        self.assertGreater(int(counts.group(1)), 1000, logs)
        self.assertGreater(int(counts.group(2)), 100, logs)

        self.assertIn("The host address and lidar address are on different network segments, "
                      f"the host_ip:{HOST_IP}, lidar_ip:{OTHER_SEGMENT_IP}", text, logs)
        self.assertNotRegex(far.text(), r"write seq", "the other segment is never configured")

        # Asked again by its detection replies, not from the handling of its own refusals.
        refusals = refusing.count("refusing host configuration")
        self.assertGreaterEqual(refusals, 2, refusing.tail())
        self.assertLessEqual(refusals, PROBE_SECONDS + 1, refusing.tail())
        self.assertNotIn(f"ip={REFUSING_IP}", text, "a refusal is not reported")


if __name__ == "__main__":
    ARGS, rest = options("probe", "sim")
    run_tests(rest)
