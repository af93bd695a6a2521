#!/usr/bin/env python3
"""The live view end to end, inside the network sandbox: the service with --debug on a computer
without a display (so the live view replaces the window on 127.0.0.1:8765) on the simulator's
default scene, driven by real clients: the protocol's own npm client, and headless Chromium on the
page. One service run serves every check; a malformed "live_view" member is checked apart.

    live_view_test.py --app APP [--launcher wine] --sim LIDAR_SIM --config CONFIG
                      --clients DIR [--screenshot PNG] [unittest options]
"""

import json
import os
import shutil
import subprocess
import sys
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (LIDAR_KEY, Process, Redis, WorkDir, run_tests,  # noqa: E402
                     service_options, wait_for)

ARGS = None
SERVICE = None
REDIS = None
RUN = {}
PAGE = "http://127.0.0.1:8765/"


def node(script, *args, timeout=60):
    done = subprocess.run(["node", os.path.join(ARGS.clients, script), *args],
                          capture_output=True, text=True, timeout=timeout)
    return done.returncode, done.stdout + done.stderr


def setUpModule():
    global REDIS
    REDIS = Redis(WorkDir("redis").path)
    work = WorkDir("live-view").path
    rate_args, _ = SERVICE.sim_rate()
    RUN["sim"] = Process("lidar_sim", [ARGS.sim, "--ip", "127.0.0.2", *rate_args], work)
    env = dict(SERVICE.env or os.environ)
    env.pop("DISPLAY", None)
    RUN["app"] = Process("app", SERVICE.argv(ARGS.config, "--debug"), work, env=env,
                         stop_signal=SERVICE.stop_signal)
    RUN["work"] = work


def tearDownModule():
    status = RUN["app"].stop()
    RUN["sim"].stop()
    REDIS.stop()
    if status != 0:
        raise AssertionError(f"the service ended with status {status}\n{RUN['app'].tail()}")


def logs():
    # The service's own lines first: its SDK's log lines soon push the start out of the tail.
    own = [l for l in RUN["app"].lines() if l.startswith(("[ERR]", "[VIEWER]", "[INFO]", "[WARN]"))]
    return "\n".join(["--- app's own lines ---", *own, RUN["app"].tail(), RUN["sim"].tail()])


def streaming():
    doc = REDIS.document(LIDAR_KEY)
    return doc and doc.get("sensor_ativo") and doc.get("freq", {}).get("pcl", 0) > 0


class LiveView(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        wait_for(lambda: "[VIEWER] Sem janela de debug" in RUN["app"].text(), 10 + SERVICE.start_s,
                 "the live view's line", logs)
        wait_for(streaming, 10 + SERVICE.start_s, "points streaming into the document", logs)

    def test_a_line_with_the_url_instead_of_the_window(self):
        lines = [l for l in RUN["app"].lines() if l.startswith("[VIEWER]")]
        self.assertEqual(lines, ["[VIEWER] Sem janela de debug neste computador: abra "
                                 "http://127.0.0.1:8765/ no navegador (Foxglove e Lichtblick: "
                                 "ws://127.0.0.1:8765)"])

    def test_page_is_served(self):
        with urllib.request.urlopen(PAGE, timeout=5) as response:
            self.assertIn("text/html", response.headers["Content-Type"])
            self.assertIn(b"/live_view.js", response.read())
        with urllib.request.urlopen(PAGE + "three.module.min.js", timeout=5) as response:
            self.assertGreater(len(response.read()), 100000)

    def test_protocol_client_sees_the_scene(self):
        args = ["ws://127.0.0.1:8765"] + ([] if SERVICE.full_density else ["--no-boxes"])
        status, out = node("protocol_client.js", *args)
        print(out)
        self.assertEqual(status, 0, out + logs())

    @unittest.skipIf(shutil.which("chromium") is None, "no chromium")
    def test_browser_draws_the_cloud_and_the_boxes(self):
        if not SERVICE.full_density:
            self.skipTest("the browser test runs against the Linux service")
        shot = ARGS.screenshot or os.path.join(RUN["work"], "live_view.png")
        status, out = node("browser_check.js", PAGE, shot, timeout=90)
        print(out)
        self.assertEqual(status, 0, out + logs())


class Configuration(unittest.TestCase):
    def test_malformed_member_stops_the_start(self):
        work = WorkDir("live-view-config").path
        with open(ARGS.config) as f:
            config = json.load(f)
        config["live_view"] = {"bind": "127.0.0.1", "port": 70000}
        path = os.path.join(work, "config.json")
        with open(path, "w") as f:
            json.dump(config, f)
        status, out = SERVICE.run([path], timeout=10)
        self.assertEqual(status, 255, out)
        self.assertIn(f"[ERR] live_view invalido em {path}: \"port\" deve ser um inteiro de 1 a "
                      "65535", out)


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config", "clients", screenshot="")
    run_tests(rest)
