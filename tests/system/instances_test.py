#!/usr/bin/env python3
"""Two LiDARs on one robot: two simulated units and two instances of the real service, each with
its own configuration file (its unit, its host address and ports, its instance name), publish
apart under their suffixed keys; one unit's power cycle leaves the other's documents untouched;
a third service started with an instance name already running is named by the self-check. Runs
inside the network sandbox.

    instances_test.py --app APP --sim SIM --config CONFIG [unittest options]
"""

import json
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (LIDAR_KEY, Process, Redis, WorkDir, member, run_tests,  # noqa: E402
                     service_options, wait_for)

ARGS = None
SERVICE = None
STREAM_KEY = "ctx:dados_modulo_Lidar_quadros"
SCENES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "config", "scenes")
# Each unit and its service: the unit's address, the host address its service binds (a second
# loopback address, as a robot gives each unit's segment its own), the first host port.
UNITS = {"frente": ("127.0.0.2", "127.0.0.1", 56101, "open.json"),
         "tras": ("127.0.0.3", "127.0.0.5", 57101, "front_2m.json")}
POWER_CYCLE_AT_S, POWER_CYCLE_OFF_S = 14, 5


class Instances(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir("instances").path
        self.procs = []
        self.redis = Redis(self.work)

    def tearDown(self):
        for proc in reversed(self.procs):
            proc.stop()
        self.redis.stop()

    def config(self, instance, host_ip, first_port, lidar_ip):
        with open(ARGS.config) as f:
            config = json.load(f)
        host = config["OMNI"]["host_net_info"][0]
        host["host_ip"] = host_ip
        host["lidar_ip"] = [lidar_ip]
        for offset, key in enumerate(("cmd_data_port", "push_msg_port", "point_data_port",
                                      "imu_data_port", "log_data_port")):
            host[key] = first_port + 100 * offset
        config["instance"] = instance
        path = os.path.join(self.work, f"{instance}-{first_port}.json")
        with open(path, "w") as f:
            json.dump(config, f)
        return path

    def start_service(self, name, config):
        app = SERVICE.start([config], self.work, name=name)
        self.procs.append(app)
        return app

    def doc(self, instance):
        return self.redis.document(f"{LIDAR_KEY}:{instance}")

    def latest_frame(self, instance):
        lines = self.redis.cli("xrevrange", f"{STREAM_KEY}:{instance}", "+", "-",
                               "COUNT", "1").splitlines()
        return dict(zip(lines[1::2], lines[2::2])) if lines else {}

    def test_two_units_two_instances(self):
        apps = {}
        for instance, (lidar_ip, host_ip, port, scene) in UNITS.items():
            extra = (["--power-cycle", f"{POWER_CYCLE_AT_S}:{POWER_CYCLE_OFF_S}"]
                     if instance == "tras" else [])
            self.procs.append(Process(f"sim-{instance}", [
                ARGS.sim, "--ip", lidar_ip, "--scene", os.path.join(SCENES, scene),
                *SERVICE.sim_rate(units=2)[0], *extra], self.work))
            apps[instance] = self.start_service(instance, self.config(instance, host_ip, port,
                                                                      lidar_ip))
        started = time.monotonic()

        def logs():
            return "\n".join(a.tail(20) for a in apps.values())

        def streaming(instance):
            d = self.doc(instance)
            return d and d.get("sensor_ativo") and isinstance(member(d, "dist.sup"), float) and d
        # The unit's address comes with the first internal-information answer, asked for on the
        # first OK cycle, so the first streaming document may still carry it empty.
        for instance, (lidar_ip, _, _, _) in UNITS.items():
            d = wait_for(lambda: (d := streaming(instance)) and d.get("lidar_ip") and d,
                         12 + SERVICE.start_s, f"the {instance} document", logs)
            self.assertEqual(d["lidar_ip"], lidar_ip)
        # Each its own scene: nothing in the front unit's corridors, a panel 2 m ahead of the
        # back unit's.
        wait_for(lambda: self.latest_frame("frente").get("corredor.frente") == "0.00"
                 and self.latest_frame("tras").get("corredor.frente") == "2.00", 5,
                 "each instance's own frame stream", logs)
        # Nothing under the keys without a suffix.
        self.assertEqual(self.redis.cli("exists", LIDAR_KEY, STREAM_KEY).strip(), "0")

        # A third service named like the first is named by the self-check before it starts.
        twin = self.start_service("twin", self.config("frente", "127.0.0.1", 58101, "127.0.0.9"))
        wait_for(lambda: twin.count(f"[ERR] outro servico ja publica em {LIDAR_KEY}:frente"),
                 5 + SERVICE.start_s, "the clash named", lambda: twin.tail(20))
        twin.stop()
        self.procs.remove(twin)
        # It did overwrite the front unit's documents meanwhile (that is the clash); the front
        # service's next cycle writes them again.
        wait_for(lambda: streaming("frente"), 3, "the front document rewritten", logs)

        # The back unit loses power: its document goes OFF and comes back, the front one's
        # never leaves OK nor changes unit.
        seen_off = False
        deadline = started + POWER_CYCLE_AT_S + POWER_CYCLE_OFF_S + 15
        while time.monotonic() < deadline:
            front, back = self.doc("frente"), self.doc("tras")
            self.assertTrue(front and front.get("sensor_ativo"), logs())
            self.assertEqual(front["lidar_ip"], "127.0.0.2")
            seen_off = seen_off or not (back and back.get("sensor_ativo"))
            if seen_off and streaming("tras"):
                break
            time.sleep(0.25)
        self.assertTrue(seen_off, "the back unit's power cycle never showed\n" + logs())
        self.assertTrue(streaming("tras"), "the back unit did not come back\n" + logs())
        self.assertEqual(apps["frente"].count("[SUP] LiDAR OFF"), 0, logs())


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config")
    run_tests(rest)
