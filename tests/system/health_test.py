#!/usr/bin/env python3
"""Operating the real service inside the network sandbox: the health counters of the
diagnostics document move as the simulator's faults say they should, the two state documents
keep their shape, a service manager's socket receives READY, WATCHDOG and STOPPING, and the
start-up self-check speaks up.

    health_test.py --app APP [--launcher wine] --sim LIDAR_SIM --config CONFIG [unittest options]

Under Wine (the Windows build) the Linux-only parts are left out: the service manager's socket,
the rmem_max line, and kernel drop counts, which Windows does not keep (the document must say
they are unavailable rather than 0).
"""

import json
import os
import signal
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (DIAG_KEY, IMU_KEY, LIDAR_KEY, Process, Redis, WorkDir, member,  # noqa: E402
                     run_tests, service_options, wait_for)

POINT_PORT, IMU_PORT = "56301", "56401"
WANTED_RECEIVE_BUFFER = 209715200
LIDAR_MEMBERS = {"bboxes", "conectado", "dev_type", "dist", "executando", "firmware_version",
                 "freq", "handle", "host_ip", "imu", "lidar_ip", "sensor_ativo", "status",
                 "timestamp"}
IMU_MEMBERS = {"frequencia", "latencia", "pitch", "roll", "timestamp", "yaw"}

ARGS = None
SERVICE = None
REDIS = None


def setUpModule():
    global REDIS
    REDIS = Redis(WorkDir("redis").path)


def tearDownModule():
    REDIS.stop()


class ServiceRun:
    def __init__(self, label, sim_args=(), config=None, prefix=()):
        REDIS.cli("flushall")
        self.work = WorkDir(label).path
        rate_args, self.point_datagrams_per_s = SERVICE.sim_rate()
        self.sim = Process("lidar_sim", [ARGS.sim, "--ip", "127.0.0.2", *rate_args, *sim_args],
                           self.work)
        self.app = SERVICE.start([config or ARGS.config], self.work, prefix=prefix)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.app.stop()
        self.sim.stop()

    def diag(self):
        return REDIS.document(DIAG_KEY)

    def logs(self):
        return (self.app.tail() + "\n" + self.sim.tail() + "\n--- diag ---\n" +
                json.dumps(self.diag()))

    def wait_counter(self, path, above=0, timeout=15):
        """Waits until the counter at `path` of the diagnostics document exceeds `above`."""
        return wait_for(lambda: (member(self.diag(), path, 0) or 0) > above and self.diag(),
                        timeout + SERVICE.start_s, f"{path} above {above}", self.logs)

    def point_rate(self, seconds=2.0):
        first = member(self.diag(), "sdk.recebidos." + POINT_PORT, 0)
        time.sleep(seconds)
        return (member(self.diag(), "sdk.recebidos." + POINT_PORT, 0) - first) / seconds


class CleanStream(unittest.TestCase):
    def test_counters_of_a_clean_stream_and_the_state_documents_unchanged(self):
        with ServiceRun("clean") as run:
            doc = run.wait_counter("app.quadros.processados", timeout=10)
            run.wait_counter("sdk.recebidos." + IMU_PORT)
            time.sleep(2)
            doc = run.diag()
            for path in ("sdk.descartados.curtos", "sdk.descartados.malformados",
                         "sdk.descartados.remetente_desconhecido", "sdk.crc_rejeitados",
                         "app.redis_falhas"):
                self.assertEqual(member(doc, path), 0, path)
            self.assertEqual(member(doc, "sdk.threads_io"), 3)
            self.assertLess(member(doc, "sdk.io_parado_ms"), 1000)
            self.assertIs(doc["progresso_ok"], True)
            self.assertEqual(doc["parado"], "")
            self.assertGreater(member(doc, "app.quadros.pulados"), 0)
            self.assertGreater(member(doc, "app.processamento_ms.maximo"), 0)
            self.assertGreaterEqual(member(doc, "app.processamento_ms.maximo"),
                                    member(doc, "app.processamento_ms.ultimo"))
            self.assertTrue(0 < int(REDIS.cli("ttl", DIAG_KEY)) <= 10)
            SERVICE.assert_stream_rate(self, run.point_rate(), run.point_datagrams_per_s, 0.2)

            lidar = REDIS.document(LIDAR_KEY)
            self.assertLessEqual(set(lidar), LIDAR_MEMBERS)
            self.assertEqual(set(REDIS.document(IMU_KEY)), IMU_MEMBERS)
            self.assertTrue(0 < int(REDIS.cli("ttl", LIDAR_KEY)) <= 10)
            self.assertTrue(0 < int(REDIS.cli("ttl", IMU_KEY)) <= 3)

    def test_kernel_drops_after_the_service_stalled(self):
        with ServiceRun("kernel-drops") as run:
            run.wait_counter("sdk.recebidos." + POINT_PORT, above=1000, timeout=10)
            if SERVICE.windows:
                doc = run.diag()
                self.assertEqual(member(doc, "sdk.descartados.curtos"), 0)
                self.assertIsNone(member(doc, "sdk.descartados.kernel"))
                return
            self.assertEqual(member(run.diag(), "sdk.descartados.kernel"), 0)
            # Stopped, the service reads nothing while the stream fills its receive buffers.
            run.app.proc.send_signal(signal.SIGSTOP)
            time.sleep(5)
            run.app.proc.send_signal(signal.SIGCONT)
            doc = run.wait_counter("sdk.descartados.kernel", timeout=10)
            self.assertGreater(member(doc, "sdk.descartados.kernel"), 100)


class Faults(unittest.TestCase):
    def test_bad_checksums_are_counted_as_crc_rejections(self):
        with ServiceRun("bad-crc", ["--bad-crc", "0.3"]) as run:
            doc = run.wait_counter("sdk.crc_rejeitados", timeout=10)
            self.assertEqual(member(doc, "sdk.descartados.malformados"), 0)

    def test_truncated_datagrams_are_counted_short_or_malformed(self):
        with ServiceRun("truncate", ["--truncate", "0.3"]) as run:
            run.wait_counter("sdk.descartados.curtos", timeout=10)
            run.wait_counter("sdk.descartados.malformados", timeout=10)

    def test_junk_is_counted_and_the_stream_goes_on(self):
        with ServiceRun("garbage", ["--garbage", "50"]) as run:
            run.wait_counter("sdk.descartados.malformados", above=20, timeout=15)
            doc = run.wait_counter("sdk.descartados.curtos", above=5, timeout=10)
            self.assertIs(doc["progresso_ok"], True)
            SERVICE.assert_stream_rate(self, run.point_rate(1.0), run.point_datagrams_per_s, 0.5)

    def test_lost_requests_or_acknowledgements_time_out(self):
        with ServiceRun("loss", ["--loss", "0.5"]) as run:
            run.wait_counter("sdk.comandos_expirados", timeout=20)

    def test_duplicates_are_received_twice(self):
        with ServiceRun("dup", ["--dup", "0.5"]) as run:
            run.wait_counter("sdk.recebidos." + POINT_PORT, above=1000, timeout=10)
            SERVICE.assert_stream_rate(self, run.point_rate(), 1.5 * run.point_datagrams_per_s,
                                       1 / 6)


class ServiceManager(unittest.TestCase):
    def test_ready_watchdog_and_stopping_reach_the_notify_socket(self):
        if SERVICE.windows:
            self.skipTest("no service-manager notification on Windows")
        work = WorkDir("notify").path
        path = os.path.join(work, "notify")
        manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        manager.bind(path)
        manager.settimeout(0.2)
        messages = []

        def drain():
            try:
                while True:
                    messages.append(manager.recv(512).decode())
            except socket.timeout:
                pass
            return messages

        try:
            with ServiceRun("notify", prefix=["env", f"NOTIFY_SOCKET={path}"]) as run:
                wait_for(lambda: "READY=1" in drain(), 5, "READY=1", run.logs)
                wait_for(lambda: drain().count("WATCHDOG=1") >= 3, 5, "three WATCHDOG=1",
                         run.logs)
                self.assertEqual(messages[0], "READY=1")
                run.app.stop()
                wait_for(lambda: "STOPPING=1" in drain(), 2, "STOPPING=1", run.logs)
                self.assertEqual(run.app.proc.returncode, 0)
        finally:
            manager.close()


class SelfCheckLines(unittest.TestCase):
    def test_the_real_service_reports_its_set_up_before_starting(self):
        with open("/proc/sys/net/core/rmem_max") as f:
            rmem_max = int(f.read())
        with ServiceRun("self-check") as run:
            wait_for(lambda: "[REDIS] conectado." in run.app.text(), 5 + SERVICE.start_s,
                     "start-up", run.logs)
            text = run.app.text()
            if rmem_max < WANTED_RECEIVE_BUFFER and not SERVICE.windows:
                self.assertIn(f"[ERR] net.core.rmem_max e {rmem_max} bytes", text)
                self.assertIn("sysctl -w net.core.rmem_max=209715200", text)
            else:
                self.assertIn("[INFO] verificacao de inicio: nenhum problema encontrado", text)
            self.assertNotIn("[ERR] host_ip", text)
            self.assertNotIn("[ERR] servidor Redis", text)

    def test_a_host_address_on_no_interface_is_named(self):
        work = WorkDir("foreign-host").path
        with open(ARGS.config) as f:
            config = json.load(f)
        config["OMNI"]["host_net_info"][0]["host_ip"] = "192.0.2.10"
        path = os.path.join(work, "foreign.json")
        with open(path, "w") as f:
            json.dump(config, f)
        app = SERVICE.start([path], work)
        line = ("[ERR] host_ip 192.0.2.10 de " + path +
                " nao esta em nenhuma interface desta maquina")
        try:
            # The service does not get far on Linux, whose bind refuses the address; Wine's
            # accepts it and the service runs on.
            wait_for(lambda: line in app.text(), 10 + SERVICE.start_s, "the self-check line",
                     app.tail)
        finally:
            app.stop()


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config")
    run_tests(rest)
