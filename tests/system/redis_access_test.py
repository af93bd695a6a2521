#!/usr/bin/env python3
"""The robot's own Redis: the real service publishes through a redis-server on a Unix socket, as
an ACL user with a password read from its own file; against a server with `requirepass`, a wrong
password gives one clear [ERR] line, the service keeps running and retrying at its usual pace,
and its documents never appear. Runs inside the network sandbox, on Linux (Unix sockets).

    redis_access_test.py --app APP --sim SIM --config CONFIG [unittest options]
"""

import json
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (LIDAR_KEY, Process, WorkDir, member, run_tests,  # noqa: E402
                     service_options, wait_for)

ARGS = None
SERVICE = None
REFUSED = "[ERR] o servidor Redis recusou "


class RedisAccess(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir("redis-access").path
        self.procs = []

    def tearDown(self):
        for proc in reversed(self.procs):
            proc.stop()

    def start(self, name, argv):
        proc = Process(name, argv, self.work)
        self.procs.append(proc)
        return proc

    def config(self, name, redis):
        with open(ARGS.config) as f:
            config = json.load(f)
        config["redis"] = redis
        path = os.path.join(self.work, name)
        with open(path, "w") as f:
            json.dump(config, f)
        return path

    def secret(self, name, text):
        path = os.path.join(self.work, name)
        with open(path, "w") as f:
            f.write(text + "\n")
        return path

    def redis(self, *args):
        """redis-server with the arguments (a configuration file first, when there is one)."""
        conf = [a for a in args[:1] if a.endswith(".conf")]
        return self.start("redis", ["redis-server", *conf, "--save", "", "--appendonly", "no",
                                    *args[len(conf):]])

    def cli(self, *args):
        return subprocess.run(["redis-cli", *args], capture_output=True, text=True,
                              timeout=10).stdout

    def test_unix_socket_with_an_acl_user(self):
        sock = os.path.join(self.work, "redis.sock")
        # The default user is switched off: only the service's own user may write, and only
        # the commands it sends.
        conf = os.path.join(self.work, "redis.conf")
        with open(conf, "w") as f:
            f.write("user default off\n"
                    "user lidar on >robot-pass ~ctx:* &* -@all +ping +watch +unwatch +get "
                    "+multi +exec +set +expire +xadd +publish\n"
                    "user reader on >reader-pass ~* &* +@all\n")
        self.redis(conf, "--port", "0", "--unixsocket", sock, "--unixsocketperm", "700")
        reader = ["-s", sock, "--user", "reader", "--pass", "reader-pass", "--no-auth-warning"]
        wait_for(lambda: self.cli(*reader, "ping").strip() == "PONG", 10, "redis-server")
        config = self.config("unix.json", {"url": "unix://" + sock, "user": "lidar",
                                           "password_file": self.secret("pass", "robot-pass")})
        self.start("lidar_sim", [ARGS.sim, "--ip", "127.0.0.2", *SERVICE.sim_rate()[0]])
        app = SERVICE.start([config], self.work)
        self.procs.append(app)

        def document():
            text = self.cli(*reader, "get", LIDAR_KEY)
            return json.loads(text) if text.strip() else None
        wait_for(lambda: (d := document()) and d.get("sensor_ativo")
                 and isinstance(member(d, "dist.sup"), float), 15,
                 "the Lidar document with distances, through the Unix socket",
                 lambda: app.tail(30))
        wait_for(lambda: int(self.cli(*reader, "xlen", "ctx:dados_modulo_Lidar_quadros") or 0) > 5,
                 5, "frame-stream entries", lambda: app.tail(30))
        self.assertEqual(app.count(REFUSED), 0, app.tail(30))
        self.assertEqual(app.count("[REDIS] erro"), 0, app.tail(30))
        self.assertNotIn("robot-pass", app.text())

    def test_wrong_password_is_said_once_and_retried_at_the_usual_pace(self):
        self.redis("--port", "6379", "--bind", "127.0.0.1", "--requirepass", "right-pass")
        auth = ["--pass", "right-pass", "--no-auth-warning"]
        wait_for(lambda: self.cli(*auth, "ping").strip() == "PONG", 10, "redis-server")
        config = self.config("wrong.json", {"password_file": self.secret("pass", "wrong-pass")})
        app = SERVICE.start([config], self.work)
        self.procs.append(app)
        wait_for(lambda: app.count(REFUSED), 10 + SERVICE.start_s, "the refusal",
                 lambda: app.tail(30))
        start = time.monotonic()
        time.sleep(6)
        self.assertTrue(app.running(), app.tail(30))
        self.assertEqual(app.count(REFUSED + "AUTH (WRONGPASS"), 1, app.tail(30))
        self.assertNotIn("wrong-pass", app.text())
        # Every cycle's documents and every frame try again, and each place's line comes at most
        # once a second: no loop at full speed.
        stats = self.cli(*auth, "info", "stats")
        rejected = [int(line.split(":")[1]) for line in stats.splitlines()
                    if line.startswith("total_connections_received:")][0]
        self.assertLess(rejected / (time.monotonic() - start + 10), 30, stats)
        self.assertLess(app.count("[REDIS] erro set_json_merge_paths"), 12, app.tail(30))
        self.assertEqual(self.cli(*auth, "exists", LIDAR_KEY).strip(), "0")


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config")
    run_tests(rest)
