#!/usr/bin/env python3
"""Fault soak of the real service in the network sandbox: the simulated LiDAR streams with loss,
duplicates, corrupted and truncated datagrams, falls silent twice, reboots; redis-server is
restarted and paused. Measured and asserted: the service never dies, the stream is OK again
within 5 s of each recovery, both documents are back within a cycle of Redis returning, resident
memory stays within 20 MB of its value after the first minute, and malformed datagrams are
counted as dropped.

    soak_test.py --app APP [--launcher wine] --sim LIDAR_SIM --config CONFIG [--seconds 180]

The fault times scale with --seconds (at least 150).
"""

import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (DIAG_KEY, IMU_KEY, LIDAR_KEY, Process, Redis, WorkDir, member,  # noqa: E402
                     run_tests, service_options, wait_for)

TRUNCATE = 0.01
ARGS = None
SERVICE = None


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Soak(unittest.TestCase):
    def test_fault_soak(self):
        total = max(ARGS.seconds, 150.0)
        k = total / 180.0
        silence1 = (30 * k, 5.0)           # the simulator's own silence
        silence2 = (55 * k, 5.0)           # the simulator stopped by a signal
        reboot = (85 * k, 3.0)
        redis_down = (115 * k, 3.0)        # redis-server stopped and started again
        redis_pause = (140 * k, 4.0)       # redis-server stopped by SIGSTOP

        work = WorkDir("soak").path
        redis = Redis(work)
        sim = Process("lidar_sim", [
            ARGS.sim, "--ip", "127.0.0.2", "--loss", "0.05", "--dup", "0.02",
            "--bad-crc", "0.01", "--truncate", str(TRUNCATE),
            "--silence", f"{silence1[0]}:{silence1[1]}",
            "--reboot", f"{reboot[0]}:{reboot[1]}"], work)
        app = SERVICE.start([ARGS.config], work)
        start = time.monotonic()
        report = []

        def at():
            return time.monotonic() - start

        def logs():
            return app.tail(30) + "\n" + sim.tail(15)

        def points_received():
            return member(redis.document(DIAG_KEY), "sdk.recebidos.56301", 0) or 0

        def stream_ok():
            """Published as OK with distances, and point datagrams arriving right now."""
            doc = redis.document(LIDAR_KEY)
            if not (doc and doc.get("sensor_ativo") is True and
                    isinstance(member(doc, "dist.frente"), float)):
                return False
            first = points_received()
            time.sleep(0.6)  # more than one publication cycle
            return points_received() > first

        def sleep_until(t):
            while at() < t:
                self.assertTrue(app.running(), "the service ended\n" + logs())
                time.sleep(0.2)

        def recovery(label, resumed_at, oks_before=None):
            """Seconds from `resumed_at` until the stream is OK again (at most 5). With
            `oks_before`, the outage must have been declared OFF and a new OK must follow."""
            if oks_before is not None:
                self.assertGreater(app.count("[SUP] LiDAR OFF"), offs_before[0], logs())
            wait_for(lambda: (oks_before is None or app.count("[SUP] LiDAR OK") > oks_before)
                     and stream_ok(), 10, f"stream OK after {label}", logs)
            took = max(0.0, at() - resumed_at)
            report.append(f"{label}: stream OK {took:.1f} s after recovery")
            self.assertLessEqual(took, 5.0, f"{label} recovery took {took:.1f} s\n{logs()}")

        offs_before = [0]
        try:
            wait_for(stream_ok, 20, "the stream", logs)
            oks, offs_before[0] = app.count("[SUP] LiDAR OK"), app.count("[SUP] LiDAR OFF")
            sleep_until(silence1[0] + silence1[1])
            recovery("silence 1", at(), oks)

            sleep_until(silence2[0])
            oks, offs_before[0] = app.count("[SUP] LiDAR OK"), app.count("[SUP] LiDAR OFF")
            sim.proc.send_signal(signal.SIGSTOP)
            time.sleep(silence2[1])
            sim.proc.send_signal(signal.SIGCONT)
            recovery("silence 2", at(), oks)

            sleep_until(60 * k)
            rss_first_minute = rss_kb(app.proc.pid)

            sleep_until(reboot[0] + reboot[1])
            recovery("simulator reboot", at())

            sleep_until(redis_down[0])
            redis.stop()
            time.sleep(redis_down[1])
            redis = Redis(work)  # empty: both documents must come back
            back = at()
            wait_for(lambda: redis.document(LIDAR_KEY) and redis.document(IMU_KEY), 5,
                     "both documents after the Redis restart", logs)
            took = at() - back
            report.append(f"redis restart: documents back after {took:.2f} s")
            self.assertLess(took, 1.5)

            sleep_until(redis_pause[0])
            redis.proc.send_signal(signal.SIGSTOP)
            time.sleep(redis_pause[1])
            before = app.count("[SUP]")
            redis.proc.send_signal(signal.SIGCONT)
            resumed = at()
            stamp = member(redis.document(LIDAR_KEY), "timestamp", 0)
            wait_for(lambda: member(redis.document(LIDAR_KEY), "timestamp", 0) != stamp and
                     redis.document(IMU_KEY), 5, "documents refreshed after the pause", logs)
            took = at() - resumed
            report.append(f"redis pause: documents refreshed {took:.2f} s after SIGCONT")
            self.assertLess(took, 1.5)
            self.assertGreaterEqual(app.count("[SUP]"), before)

            sleep_until(total)
            self.assertTrue(stream_ok(), logs())
            rss_end = rss_kb(app.proc.pid)
            report.append(f"resident memory: {rss_first_minute / 1024:.1f} MB after the first "
                          f"minute, {rss_end / 1024:.1f} MB at the end")
            self.assertLess(rss_end - rss_first_minute, 20 * 1024)

            diag = redis.document(DIAG_KEY) or {}
            received = sum((member(diag, "sdk.recebidos", {}) or {}).get(p, 0)
                           for p in ("56301", "56401"))
            short = member(diag, "sdk.descartados.curtos", 0)
            malformed = member(diag, "sdk.descartados.malformados", 0)
            report.append(f"counters since the Redis restart: {received} data datagrams "
                          f"received, {short} short, {malformed} malformed, "
                          f"{member(diag, 'sdk.crc_rejeitados', 0)} checksum rejections")
            if received:
                # Every truncated data datagram is one short or malformed drop.
                ratio = (short + malformed) / received
                self.assertGreater(ratio, 0.5 * TRUNCATE, report)
                self.assertLess(ratio, 2.0 * TRUNCATE, report)
            self.assertEqual(app.stop(timeout=10), 0, logs())
        finally:
            print("\n".join(report))
            app.stop()
            sim.stop()
            try:
                redis.proc.send_signal(signal.SIGCONT)
                redis.stop()
            except (OSError, subprocess.TimeoutExpired):
                pass


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config", seconds=180.0)
    run_tests(rest)
