"""Processes of a system test run: redis-server, simulated LiDARs and the service, each with its
output in a file of the run's work directory, plus polling helpers. Used inside the network
sandbox only."""

import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

REDIS_PORT = 6379  # the service always publishes to 127.0.0.1:6379
LIDAR_KEY = "ctx:dados_modulo_Lidar"
IMU_KEY = "ctx:dados_modulo_Imu"
DIAG_KEY = "ctx:dados_modulo_Lidar_diag"


def options(*required, **optional):
    """Reads a test script's options: --NAME for each required name, --NAME for each optional one
    with its default (whose type the value takes). Returns them and the rest of the command
    line, which run_tests hands to unittest."""
    parser = argparse.ArgumentParser()
    for name in required:
        parser.add_argument("--" + name, required=True)
    for name, default in optional.items():
        parser.add_argument("--" + name, type=type(default), default=default)
    return parser.parse_known_args()


def run_tests(rest):
    unittest.main(argv=[sys.argv[0], "-v", *rest])


def member(doc, path, default=None):
    """The value at a dotted path inside a JSON document; `default` where any step is missing."""
    for name in path.split("."):
        if not isinstance(doc, dict) or name not in doc:
            return default
        doc = doc[name]
    return doc


def wait_for(predicate, timeout, what, describe=None):
    """Polls predicate every 100 ms; returns its first truthy value or fails with `what`."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            detail = describe() if describe else ""
            raise AssertionError(f"timed out after {timeout} s waiting for {what}\n{detail}")
        time.sleep(0.1)


class Redis:
    def __init__(self, workdir):
        self.log = open(os.path.join(workdir, "redis.log"), "wb")
        self.proc = subprocess.Popen(
            ["redis-server", "--port", str(REDIS_PORT), "--bind", "127.0.0.1", "--save", "",
             "--appendonly", "no"], stdout=self.log, stderr=subprocess.STDOUT)
        wait_for(lambda: self.cli("ping").strip() == "PONG", 10, "redis-server")

    def cli(self, *args):
        done = subprocess.run(["redis-cli", "-p", str(REDIS_PORT), "--raw", *args],
                              capture_output=True, text=True, timeout=5)
        return done.stdout

    def document(self, key):
        text = self.cli("get", key).strip()
        if not text:
            return None
        try:
            return json.loads(text)
        except ValueError:
            return None

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.log.close()


class Process:
    """A child process whose combined output goes to a file that tests read while it runs."""

    def __init__(self, name, argv, workdir, cwd=None, prefix=()):
        self.name = name
        self.path = os.path.join(workdir, f"{name}.log")
        self.out = open(self.path, "wb")
        self.proc = subprocess.Popen([*prefix, *argv], stdout=self.out, stderr=subprocess.STDOUT,
                                     cwd=cwd or workdir)

    def text(self):
        with open(self.path, "rb") as f:
            # Console texts are single-byte (the status line carries 0xE3).
            return f.read().decode("latin-1")

    def lines(self):
        return self.text().splitlines()

    def count(self, needle):
        return self.text().count(needle)

    def tail(self, n=25):
        return f"--- {self.name} ---\n" + "\n".join(self.lines()[-n:])

    def running(self):
        return self.proc.poll() is None

    def stop(self, timeout=5):
        if self.running():
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.out.close()
        return self.proc.returncode


class WorkDir:
    def __init__(self, label):
        self.path = tempfile.mkdtemp(prefix=f"system-{label}-")
