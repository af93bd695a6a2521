"""The real service's zones on the simulator: a bin that appears inside a zone gives exactly one
"ocupada" and, when it goes, one "livre", on the zone stream and its channel alike; a sparse wire
that shows two points now and then never raises its own zone; the frame stream carries both
zones' states; a unit that falls silent makes both "desconhecida"."""

import json
import os
import re
import signal
import subprocess
import time
import unittest

from harness import REDIS_PORT, Process, Redis, WorkDir, run_tests, service_options, wait_for

ZONES = "ctx:dados_modulo_Lidar_zonas"
FRAMES = "ctx:dados_modulo_Lidar_quadros"
ZONE_MEMBER = [
    # The scene's bin (x 1.20 to 1.60, on the floor) stands in "parar"; its wire in "fio".
    {"name": "parar", "min": [0.3, -0.3, -0.3], "max": [1.5, 0.3, 0.3], "min_points": 5,
     "release_ms": 300},
    {"name": "fio", "min": [0.6, 0.32, -0.3], "max": [1.0, 0.6, 0.3], "min_points": 5,
     "release_ms": 300},
]

ARGS = SERVICE = REDIS = None


def entries(key):
    """The stream's entries as dicts, oldest first."""
    out = []
    for line in REDIS.cli("xrange", key, "-", "+").splitlines():
        if re.fullmatch(r"\d+-\d+", line):
            out.append([])
        elif out:
            out[-1].append(line)
    return [dict(zip(f[0::2], f[1::2])) for f in out]


def zone_events():
    """(zona, estado) of every zone stream entry, with its fields."""
    return [(e["zona"], e["estado"], e) for e in entries(ZONES)]


class Zones(unittest.TestCase):
    def test_one_ocupada_per_appearance_one_livre_per_leaving_and_a_sparse_wire_raises_none(self):
        work = WorkDir("zones").path
        with open(ARGS.config) as f:
            config = json.load(f)
        config["zones"] = ZONE_MEMBER
        path = os.path.join(work, "config.json")
        with open(path, "w") as f:
            json.dump(config, f)
        redis = Redis(work)
        global REDIS
        REDIS = redis
        channel = open(os.path.join(work, "channel.log"), "wb")
        subscriber = subprocess.Popen(["redis-cli", "-p", str(REDIS_PORT), "subscribe", ZONES],
                                      stdout=channel, stderr=subprocess.STDOUT)
        app = SERVICE.start([path], work)
        sim = Process("lidar_sim", [ARGS.sim, "--ip", "127.0.0.2", *SERVICE.sim_rate()[0],
                                    "--scene", ARGS.scene], work)
        try:
            # Both zones watched for their release time without enough points: free.
            wait_for(lambda: {z for z, s, _ in zone_events() if s == "livre"} == {"parar", "fio"},
                     20, "both zones free", app.tail)
            time.sleep(2.0)  # the wire keeps flickering
            for appearance in range(2):
                sim.proc.send_signal(signal.SIGUSR1)  # the bin appears
                wait_for(lambda: [s for z, s, _ in zone_events() if z == "parar"][-1] == "ocupada",
                         5, "parar occupied", app.tail)
                time.sleep(1.0)
                sim.proc.send_signal(signal.SIGUSR1)  # ... and goes
                wait_for(lambda: [s for z, s, _ in zone_events() if z == "parar"][-1] == "livre",
                         5, "parar free again", app.tail)
                time.sleep(0.5)
            events = zone_events()
            parar = [s for z, s, _ in events if z == "parar"]
            self.assertEqual(parar, ["livre", "ocupada", "livre", "ocupada", "livre"])
            self.assertEqual([s for z, s, _ in events if z == "fio"], ["livre"],
                             "two points now and then never make five within 20 ms")
            occupied = [e for z, s, e in events if s == "ocupada"]
            for e in occupied:
                self.assertGreaterEqual(int(e["pontos"]), 5, e)
                self.assertAlmostEqual(float(e["mais_proximo"]), 1.2, delta=0.15)
                self.assertLess(abs(int(e["timestamp"]) - time.time() * 1000), 60000)
            frame = [e for e in entries(FRAMES) if e.get("evento") == "quadro"][-1]
            self.assertEqual((frame["zona.parar"], frame["zona.fio"]), ("livre", "livre"))

            # A unit that falls silent: the stream goes OFF and no zone is known.
            sim.stop()
            wait_for(lambda: [s for z, s, _ in zone_events()][-2:] ==
                     ["desconhecida", "desconhecida"], 10, "both zones unknown", app.tail)
            off = [e for e in entries(FRAMES) if e.get("evento") == "off"][-1]
            self.assertEqual((off["zona.parar"], off["zona.fio"]),
                             ("desconhecida", "desconhecida"))
        finally:
            sim.stop()
            self.assertEqual(app.stop(), 0)
            subscriber.terminate()
            subscriber.wait(timeout=5)
            channel.close()
            redis.stop()
        published = [line for line in open(os.path.join(work, "channel.log")).read().splitlines()
                     if line.startswith("{")]
        stream = [(z, s) for z, s, _ in events]
        self.assertEqual([(json.loads(m)["zona"], json.loads(m)["estado"])
                          for m in published][:len(stream)], stream,
                         "the channel carries the stream's entries in its order")


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config", "scene")
    run_tests(rest)
