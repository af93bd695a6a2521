#!/usr/bin/env python3
"""The service across the sandbox's veth pair, meeting what a real segment does and loopback
does not: a LiDAR told to stream to a multicast group, and a LiDAR that answers detection on the
broadcast address.

    field_network_test.py --app APP --sim LIDAR_SIM   (under netns-run --veth)
"""

import argparse
import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Process, Redis, WorkDir, wait_for  # noqa: E402

ARGS = None
REDIS = None
HOST_IP = os.environ.get("SANDBOX_HOST_IP", "192.168.1.50")
LIDAR_IP = os.environ.get("SANDBOX_LIDAR_IP", "192.168.1.12")
LIDAR_NS = os.environ.get("SANDBOX_LIDAR_NS", "")
GROUP = "239.1.2.3"
STREAM_UP = "[SUP] LiDAR OK (stream ativo)"


def setUpModule():
    global REDIS
    if LIDAR_NS:
        REDIS = Redis(WorkDir("redis").path)


def tearDownModule():
    if REDIS:
        REDIS.stop()


def write_config(work, multicast_ip):
    host = {"host_ip": HOST_IP, "multicast_ip": multicast_ip, "cmd_data_port": 56101,
            "push_msg_port": 56201, "point_data_port": 56301, "imu_data_port": 56401,
            "log_data_port": 56501}
    lidar = {"cmd_data_port": 56100, "push_msg_port": 56200, "point_data_port": 56300,
             "imu_data_port": 56400, "log_data_port": 56500}
    config = {"master_sdk": True, "lidar_log_enable": False, "lidar_log_cache_size_MB": 500,
              "lidar_log_path": "./lidar_logs",
              "OMNI": {"lidar_net_info": lidar, "host_net_info": [host]}}
    path = os.path.join(work, "lidar_config.json")
    with open(path, "w") as f:
        json.dump(config, f)
    return path


class FieldNetwork(unittest.TestCase):
    def setUp(self):
        if not LIDAR_NS:
            self.skipTest("needs netns-run --veth")
        REDIS.cli("flushall")

    def run_service(self, label, multicast_ip="", sim_args=()):
        work = WorkDir(label).path
        sim = Process("lidar_sim", ["ip", "netns", "exec", LIDAR_NS, ARGS.sim, "--ip", LIDAR_IP,
                                    "--gateway", HOST_IP, *sim_args], work)
        app = Process("app", [ARGS.app, write_config(work, multicast_ip)], work)
        self.addCleanup(sim.stop)
        self.addCleanup(app.stop)
        wait_for(lambda: STREAM_UP in app.text(), 20, "the stream to come up",
                 lambda: app.tail() + "\n" + sim.tail())
        return app, sim

    def test_points_and_imu_sent_to_the_configured_group_arrive(self):
        app, sim = self.run_service("multicast", multicast_ip=GROUP)
        logs = app.tail() + "\n" + sim.tail()
        self.assertIn(f"point stream on -> {GROUP}:56301", sim.text(), logs)
        self.assertIn(f"IMU stream on -> {GROUP}:56401", sim.text(), logs)
        # Unicast on the same segment keeps working beside the group: the internal information
        # (the unit's power-on count, 17) is queried and answered.
        wait_for(lambda: (REDIS.document("ctx:dados_modulo_Lidar") or {}).get("status", {})
                 .get("vezes_ligado") == 17, 10, "the internal information", lambda: logs)

    def test_detection_replies_sent_to_the_broadcast_address_are_heard(self):
        app, sim = self.run_service("broadcast", sim_args=["--reply-broadcast"])
        logs = app.tail() + "\n" + sim.tail()
        self.assertIn("-> reply sn", sim.text(), logs)
        self.assertIn("to 255.255.255.255", sim.text(), logs)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--sim", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
