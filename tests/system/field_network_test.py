#!/usr/bin/env python3
"""The service across the sandbox's veth pair, where a LiDAR streams to a multicast group or
answers detection on the broadcast address (which loopback never shows).

    field_network_test.py --app APP [--launcher wine] --sim LIDAR_SIM --config CONFIG
                          (under netns-run --veth)
"""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Process, WorkDir, run_tests, service_options, wait_for  # noqa: E402

ARGS = None
SERVICE = None
HOST_IP, LIDAR_IP = os.environ.get("SANDBOX_HOST_IP"), os.environ.get("SANDBOX_LIDAR_IP")
LIDAR_NS = os.environ.get("SANDBOX_LIDAR_NS")


@unittest.skipUnless(LIDAR_NS, "needs netns-run --veth")
class FieldNetwork(unittest.TestCase):
    def stream_comes_up(self, multicast_ip="", sim_args=()):
        work = WorkDir("field").path
        with open(ARGS.config) as f:
            config = json.load(f)
        config["OMNI"]["host_net_info"][0].update(host_ip=HOST_IP, multicast_ip=multicast_ip)
        path = os.path.join(work, "config.json")
        with open(path, "w") as f:
            json.dump(config, f)
        sim = Process("lidar_sim", ["ip", "netns", "exec", LIDAR_NS, ARGS.sim, "--ip", LIDAR_IP,
                                    *SERVICE.sim_rate()[0], *sim_args], work)
        app = SERVICE.start([path], work)
        self.addCleanup(sim.stop)
        self.addCleanup(app.stop)
        wait_for(lambda: "[SUP] LiDAR OK (stream ativo)" in app.text(), 20 + SERVICE.start_s,
                 "the stream",
                 lambda: app.tail() + "\n" + sim.tail())
        return sim.text()

    def test_streams_sent_to_the_configured_group_arrive(self):
        sim_log = self.stream_comes_up(multicast_ip="239.1.2.3")
        self.assertIn("point stream on -> 239.1.2.3:56301", sim_log)

    def test_detection_replies_sent_to_the_broadcast_address_are_heard(self):
        sim_log = self.stream_comes_up(sim_args=["--reply-broadcast"])
        self.assertIn("to 255.255.255.255", sim_log)


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config")
    run_tests(rest)
