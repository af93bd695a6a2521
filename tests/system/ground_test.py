"""The real service on the simulator with a real floor 0.40 m below the LiDAR, where the default
robot stands: the corridors and the frame stream's nearest box see what the robot would run
into, never the floor, level, pitched or pitching, and however the unit is mounted. One service
follows a simulated unit that is restarted with another tilt or scene (it keeps the host's
settings, so it streams at once)."""

import json
import os
import re
import time
import unittest

from harness import Process, Redis, WorkDir, run_tests, service_options, wait_for

STREAM = "ctx:dados_modulo_Lidar_quadros"
# The room's corridors for the default robot box (config/scenes/README.md).
ROOM = {"frente": 3.00, "tras": 2.00, "esquerda": 1.50, "direita": 1.75, "sup": 0.00, "inf": 0.00}
SETTLE_S = 1.0  # the new unit's points fill the window, the IMU filter follows its tilt

ARGS = SERVICE = REDIS = None


def scene(name):
    return os.path.join(os.path.dirname(ARGS.config), "scenes", name)


class Run:
    """One service run; units are started and replaced under it."""

    def __init__(self, label, **members):
        with open(ARGS.config) as f:
            config = json.load(f)
        config.update(members)
        self.work = WorkDir(label).path
        path = os.path.join(self.work, "config.json")
        with open(path, "w") as f:
            json.dump(config, f)
        REDIS.cli("flushall")
        self.app = SERVICE.start([path], self.work)
        self.sim, self.units, self.last_id = None, 0, "-"

    def frames(self, *sim_args, seconds=1.5):
        """The frames of a new unit with these options, over `seconds` after it settled."""
        if self.sim:
            self.sim.stop()
        self.units += 1
        self.sim = Process(f"lidar_sim-{self.units}",
                           [ARGS.sim, "--ip", "127.0.0.2", "--preconfigured", "127.0.0.1",
                            "--host-ports", "56201,56301,56401", *SERVICE.sim_rate()[0],
                            *sim_args], self.work)
        since = time.time() * 1000 + SETTLE_S * 1000
        got = []
        wait_for(lambda: got.extend(f for f in self.read() if int(f["timestamp"]) >= since)
                 or got, SETTLE_S + 8, "frames of the new unit", self.app.tail)
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            time.sleep(0.5)
            got.extend(self.read())
        return got

    def read(self):
        start = "-" if self.last_id == "-" else "(" + self.last_id
        entries = []
        for line in REDIS.cli("xrange", STREAM, start, "+").splitlines():
            if re.fullmatch(r"\d+-\d+", line):
                entries.append((line, []))
            elif entries:
                entries[-1][1].append(line)
        if entries:
            self.last_id = entries[-1][0]
        fields = (dict(zip(f[0::2], f[1::2])) for _, f in entries)
        return [e for e in fields if e.get("evento") == "quadro"]

    def stop(self):
        if self.sim:
            self.sim.stop()
        return self.app.stop()


class Ground(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        global REDIS
        REDIS = Redis(WorkDir("redis").path)

    @classmethod
    def tearDownClass(cls):
        REDIS.stop()

    def assert_frames(self, frames, expected, what, tolerance=0.05):
        """Each frame's corridors within `tolerance` of `expected`; the nearest box never the
        floor (a box as wide or deep as the room's free floor)."""
        self.assertTrue(frames, what)
        for e in frames:
            got = {k: float(e["corredor." + k]) for k in expected}
            self.assertTrue(all(abs(got[k] - v) <= tolerance for k, v in expected.items()),
                            f"{what}: {got} at {e['timestamp']}")
            self.assertLess(max(float(e.get("caixa.w", 0)), float(e.get("caixa.d", 0))), 2.0,
                            f"{what}: the nearest box is the floor")

    def test_the_floor_is_never_an_obstacle_level_pitched_or_pitching(self):
        run = Run("ground")
        try:
            lowest = {}
            for pitch in range(-5, 6):
                frames = run.frames("--scene", scene("room.json"), "--tilt", f"0,{pitch}")
                self.assert_frames(frames, ROOM if pitch == 0 else {"frente": 3.0}, f"{pitch} deg")
                ground = [(float(e["chao.altura_m"]), float(e["chao.inclinacao_graus"]))
                          for e in frames]
                self.assertTrue(all(abs(h - 0.40) < 0.02 and abs(t - abs(pitch)) < 0.5
                                    for h, t in ground), ground)
                lowest[pitch] = min(float(e["corredor.frente"]) for e in frames)
            print(f"room, lowest front corridor by pitch: {lowest}")
            self.assertTrue(REDIS.document("ctx:dados_modulo_Lidar_diag")["chao"]["visto"])

            # Braking and accelerating: the pitch swings 3 degrees either way once a second.
            frames = run.frames("--scene", scene("room.json"), "--pitching", "3,1", seconds=30)
            self.assertGreater(len(frames), 250, "about ten frames a second for 30 s")
            print(f"room pitching 3 degrees at 1 Hz: {len(frames)} frames, lowest front "
                  f"corridor {min(float(e['corredor.frente']) for e in frames):.2f}")
            self.assert_frames(frames, {"frente": 3.0}, "pitching", tolerance=0.10)

            frames = run.frames("--scene", scene("floor_object.json"))
            self.assert_frames(frames, {"frente": 2.00, "tras": 2.00}, "a 10 cm brick")
        finally:
            self.assertEqual(run.stop(), 0)

    def test_a_mounted_unit_reads_what_the_level_unit_reads(self):
        for tilt, rpy in (("0,20", [0, 20, 0]), ("180,0", [180, 0, 0])):
            run = Run("mounting", mounting={"rpy_deg": rpy, "xyz_m": [0.1, 0, 0.4]})
            try:
                frames = run.frames("--scene", scene("room.json"), "--tilt", tilt)
                self.assert_frames(frames, ROOM, f"tilted {tilt}, mounted {rpy}")
                diag = REDIS.document("ctx:dados_modulo_Lidar_diag")
                self.assertEqual(diag["montagem"]["xyz_m"], [0.1, 0.0, 0.4])
            finally:
                self.assertEqual(run.stop(), 0)


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config")
    run_tests(rest)
