"""The real service on the simulator with a real floor 0.40 m below the LiDAR, where the default
robot's wheels stand: the corridors and the frame stream's nearest box see what the robot would
run into, never the floor, whether the robot is level, pitched or pitching, and whichever way the
unit is mounted. Few service runs, several checks each: one service follows a simulated unit that
is restarted with another tilt or scene (it keeps the host's settings, so it streams at once)."""

import json
import os
import re
import time
import unittest

from harness import Process, Redis, WorkDir, run_tests, service_options, wait_for

STREAM = "ctx:dados_modulo_Lidar_quadros"
SIX = ("frente", "tras", "esquerda", "direita", "sup", "inf")
# The room's corridors for the default robot box (config/scenes/README.md).
ROOM = {"frente": 3.00, "tras": 2.00, "esquerda": 1.50, "direita": 1.75, "sup": 0.00, "inf": 0.00}
TOLERANCE = 0.05
SETTLE_S = 1.0  # a new unit's points fill the 150 ms window, and the IMU filter follows its tilt

ARGS = SERVICE = REDIS = None


def scene(name):
    return os.path.join(os.path.dirname(ARGS.config), "scenes", name)


def is_floor(entry):
    """The floor as a box: as wide or deep as the room's free floor, metres across."""
    return float(entry.get("caixa.w", 0)) > 2.0 or float(entry.get("caixa.d", 0)) > 2.0


class Run:
    """One service run; units are started and replaced under it."""

    def __init__(self, label, config):
        REDIS.cli("flushall")
        self.work = WorkDir(label).path
        self.app = SERVICE.start([config], self.work)
        self.sim = None
        self.units = 0
        self.last_id = "-"

    def unit(self, *sim_args):
        """Replaces the simulated unit; returns the wall-clock time (ms) from which its frames
        are the new unit's alone."""
        if self.sim:
            self.sim.stop()
        self.units += 1
        rate_args, _ = SERVICE.sim_rate()
        self.sim = Process(f"lidar_sim-{self.units}",
                           [ARGS.sim, "--ip", "127.0.0.2", "--preconfigured", "127.0.0.1",
                            "--host-ports", "56201,56301,56401", *rate_args, *sim_args],
                           self.work)
        return time.time() * 1000 + SETTLE_S * 1000

    def frames(self):
        """The frame entries added since the last call, oldest first."""
        start = "-" if self.last_id == "-" else "(" + self.last_id
        lines = REDIS.cli("xrange", STREAM, start, "+").splitlines()
        entries = []
        for line in lines:
            if re.fullmatch(r"\d+-\d+", line):
                entries.append((line, []))
            elif entries:
                entries[-1][1].append(line)
        if entries:
            self.last_id = entries[-1][0]
        fields = [dict(zip(f[0::2], f[1::2])) for _, f in entries]
        return [e for e in fields if e.get("evento") == "quadro"]

    def collect(self, since_ms, seconds):
        """Every frame stamped from since_ms on, over `seconds` once the first has come."""
        got = []

        def first():
            got.extend(e for e in self.frames() if int(e["timestamp"]) >= since_ms)
            return got

        wait_for(first, SETTLE_S + 8 + SERVICE.start_s, "frames of the new unit", self.logs)
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            time.sleep(min(1.0, max(0.0, end - time.monotonic())))
            got.extend(self.frames())
        return got

    def logs(self):
        parts = [self.app.tail()]
        if self.sim:
            parts.append(self.sim.tail())
        return "\n".join(parts)

    def stop(self):
        if self.sim:
            self.sim.stop()
        return self.app.stop()


def corridor(entry):
    return {k: float(entry["corredor." + k]) for k in SIX}


def config_with(**members):
    with open(ARGS.config) as f:
        config = json.load(f)
    config.update(members)
    path = os.path.join(WorkDir("ground-config").path, "config.json")
    with open(path, "w") as f:
        json.dump(config, f)
    return path


class Ground(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        global REDIS
        REDIS = Redis(WorkDir("redis").path)

    @classmethod
    def tearDownClass(cls):
        REDIS.stop()

    def assert_corridors(self, frames, expected, what):
        self.assertTrue(frames, what)
        for entry in frames:
            got = corridor(entry)
            for name, value in expected.items():
                self.assertLessEqual(abs(got[name] - value), TOLERANCE,
                                     f"{what}: corredor.{name} {got} at {entry['timestamp']}")

    def test_the_floor_is_never_an_obstacle_level_pitched_or_pitching(self):
        run = Run("ground", ARGS.config)
        try:
            figures = {}
            for pitch in range(-5, 6):
                since = run.unit("--scene", scene("room.json"), "--tilt", f"0,{pitch}")
                frames = run.collect(since, 1.5)
                expected = {"frente": ROOM["frente"]} if pitch else ROOM
                self.assert_corridors(frames, expected, f"room pitched {pitch}")
                self.assertFalse([e for e in frames if is_floor(e)],
                                 f"pitched {pitch}: the nearest box is the floor")
                self.assertTrue(all(e["chao"] == "visto" for e in frames), f"pitched {pitch}")
                heights = [float(e["chao.altura_m"]) for e in frames]
                tilts = [float(e["chao.inclinacao_graus"]) for e in frames]
                self.assertLess(max(abs(h - 0.40) for h in heights), 0.02, heights)
                self.assertLess(max(abs(t - abs(pitch)) for t in tilts), 0.5, tilts)
                figures[pitch] = min(float(e["corredor.frente"]) for e in frames)
            print(f"room, front corridor by pitch (lowest of each): {figures}")
            diag = REDIS.document("ctx:dados_modulo_Lidar_diag")
            self.assertTrue(diag["chao"]["visto"], diag.get("chao"))
            self.assertNotIn("montagem", diag, "no mounting member, no mounting published")

            # Braking and accelerating: the pitch swings 3 degrees either way once a second.
            since = run.unit("--scene", scene("room.json"), "--pitching", "3,1")
            frames = run.collect(since, 30)
            self.assertGreater(len(frames), 250, "about ten frames a second for 30 s")
            lowest = min(float(e["corredor.frente"]) for e in frames)
            print(f"room pitching 3 degrees at 1 Hz: {len(frames)} frames, lowest front "
                  f"corridor {lowest:.2f}")
            self.assertGreaterEqual(lowest, 2.90)
            self.assertFalse([e for e in frames if is_floor(e)])

            since = run.unit("--scene", scene("floor_object.json"))
            frames = run.collect(since, 1.5)
            self.assert_corridors(frames, {"frente": 2.00, "tras": 2.00}, "a 10 cm brick")

            # A robot on a table: no ground in sight is said as such, and nothing is ground.
            since = run.unit("--scene", scene("front_2m.json"))
            frames = run.collect(since, 1.0)
            self.assertTrue(all(e["chao"] == "nao visto" and "chao.altura_m" not in e
                                for e in frames), frames[-1])
            self.assert_corridors(frames, {"frente": 2.00}, "the panel, with no floor")
        finally:
            self.assertEqual(run.stop(), 0, run.logs())

    def test_a_mounted_unit_reads_what_the_level_unit_reads(self):
        for tilt, rpy in (("0,20", [0, 20, 0]), ("180,0", [180, 0, 0])):
            run = Run("mounting", config_with(mounting={"rpy_deg": rpy, "xyz_m": [0.1, 0, 0.4]}))
            try:
                since = run.unit("--scene", scene("room.json"), "--tilt", tilt)
                frames = run.collect(since, 1.5)
                self.assert_corridors(frames, ROOM, f"tilted {tilt}, mounted {rpy}")
                self.assertFalse([e for e in frames if is_floor(e)])
                diag = wait_for(lambda: (d := REDIS.document("ctx:dados_modulo_Lidar_diag"))
                                and "montagem" in d and d, 5, "the diagnostics document")
                self.assertEqual(diag["montagem"]["xyz_m"], [0.1, 0.0, 0.4])
            finally:
                self.assertEqual(run.stop(), 0, run.logs())


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config")
    run_tests(rest)
