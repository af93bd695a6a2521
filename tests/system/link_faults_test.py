#!/usr/bin/env python3
"""What a robot's network does that the plain loopback run does not, inside the network
sandbox: points streamed in a form the service does not decode, a second unit streaming to the
same host, no LiDAR at all, a LiDAR the configuration file does not include, and what the
documents say at start-up and after an orderly shutdown.

    link_faults_test.py --app APP --sim LIDAR_SIM --config CONFIG [unittest options]
"""

import argparse
import json
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import LIDAR_KEY, Process, Redis, WorkDir, wait_for  # noqa: E402

DIAG_KEY = "ctx:dados_modulo_Lidar_diag"
SIM_POINT_DATAGRAMS_PER_S = 200000 / 96
HANDLES = {"127.0.0.2": 0x0200007F, "127.0.0.3": 0x0300007F}

ARGS = None
REDIS = None


def setUpModule():
    global REDIS
    REDIS = Redis(WorkDir("redis").path)


def tearDownModule():
    REDIS.stop()


class Run:
    """The service with any number of simulated units (one per address), started together."""

    def __init__(self, label, units=(), config=None, seed_document=None):
        REDIS.cli("flushall")
        if seed_document is not None:
            REDIS.cli("set", LIDAR_KEY, json.dumps(seed_document))
        self.work = WorkDir(label).path
        self.sims = {ip: Process(f"lidar_sim-{ip}", [ARGS.sim, "--ip", ip, *args], self.work)
                     for ip, args in units}
        self.app = Process("app", [ARGS.app, config or ARGS.config], self.work)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.app_status = self.app.stop()
        for sim in self.sims.values():
            sim.stop()

    def logs(self):
        return "\n".join([self.app.tail()] + [s.tail(10) for s in self.sims.values()] +
                         ["--- documents ---", json.dumps(REDIS.document(LIDAR_KEY)),
                          json.dumps(REDIS.document(DIAG_KEY))])

    def wait(self, predicate, timeout, what):
        return wait_for(predicate, timeout, what, self.logs)

    def document(self):
        return REDIS.document(LIDAR_KEY)

    def diag(self, path):
        value = REDIS.document(DIAG_KEY)
        for name in path.split("."):
            if not isinstance(value, dict):
                return None
            value = value.get(name)
        return value

    def streaming(self):
        doc = self.document()
        return doc if doc and doc.get("sensor_ativo") and doc["freq"]["pcl"] > 0 else None


class UndecodedPoints(unittest.TestCase):
    def test_points_in_a_form_not_decoded_are_asked_for_again(self):
        with Run("datatype", [("127.0.0.2", ["--switch-data-type", "4:3"])]) as run:
            sim = run.sims["127.0.0.2"]
            run.wait(run.streaming, 6, "points before the switch")
            run.wait(lambda: sim.count("point data type now 3"), 6, "the other program's switch")
            line = "[SUP] LiDAR envia pontos em formato nao decodificado (tipo de dado 3)"
            run.wait(lambda: run.app.count(line), 6, "the line about the form")
            run.wait(lambda: sim.count("point data type now 1"), 3, "data type 1 asked again")
            self.assertGreater(run.wait(lambda: run.diag("app.descartados.nao_decodificados"),
                                        3, "undecoded datagrams counted"), 0)
            time.sleep(1)
            run.wait(run.streaming, 3, "points again")
            self.assertEqual(run.app.count(line), 1)

        # The orderly shutdown says so at once instead of leaving it to the key's expiry.
        self.assertEqual(run.app_status, 0)
        doc = run.document()
        self.assertIs(doc["executando"], False)
        self.assertIs(doc["sensor_ativo"], False)


class SecondUnit(unittest.TestCase):
    def test_one_unit_is_followed_until_it_goes_off(self):
        with Run("twounits", [("127.0.0.2", []), ("127.0.0.3", [])]) as run:
            doc = run.wait(run.streaming, 8, "points from one unit")
            followed = doc["handle"]
            other_ip = next(ip for ip, h in HANDLES.items() if h != followed)
            followed_ip = next(ip for ip, h in HANDLES.items() if h == followed)
            ignored = f"[ERR] LiDAR {other_ip} ignorado: este servico segue o LiDAR {followed_ip}"
            run.wait(lambda: run.app.count(ignored), 5, "the ignored unit named")
            for _ in range(6):
                time.sleep(0.5)
                doc = run.document()
                self.assertEqual(doc["handle"], followed)
            self.assertAlmostEqual(doc["freq"]["pcl"], SIM_POINT_DATAGRAMS_PER_S,
                                   delta=0.2 * SIM_POINT_DATAGRAMS_PER_S)
            self.assertGreater(run.diag("app.descartados.outro_lidar"), 0)
            self.assertEqual(run.app.count("ignorado: este servico segue"), 1)

            run.sims[followed_ip].stop()
            run.wait(lambda: (d := run.streaming()) and d["handle"] == HANDLES[other_ip], 10,
                     "the other unit followed once the first went OFF")
            self.assertEqual(run.app.count("[SUP] LiDAR OFF/DEGRADED (sem dados recentes)"), 1)


class NothingStreams(unittest.TestCase):
    def test_without_a_lidar_the_operator_is_told_and_old_boxes_are_cleared(self):
        stale = {"bboxes": [{"frente_m": 1.0}], "executando": True}
        with Run("nolidar", seed_document=stale) as run:
            doc = run.wait(lambda: (d := run.document()) and "timestamp" in d and d, 5,
                           "the first document")
            self.assertEqual(doc["bboxes"], [], "a previous process's boxes stay published")
            line = "[ERR] nenhum LiDAR respondeu a deteccao ha 10 s"
            run.wait(lambda: run.app.count(line), 13, "the missing LiDAR reported")
            self.assertEqual(run.diag("lidar.estado"), "sem_resposta_deteccao")

    def test_a_lidar_outside_the_configuration_is_named(self):
        with open(ARGS.config) as f:
            config = json.load(f)
        config["OMNI"]["host_net_info"][0]["lidar_ip"] = ["127.0.0.9"]
        path = os.path.join(WorkDir("elsewhere-config").path, "elsewhere.json")
        with open(path, "w") as f:
            json.dump(config, f)
        with Run("elsewhere", [("127.0.0.2", [])], config=path) as run:
            line = ("[ERR] LiDAR 127.0.0.2 responde a deteccao mas o arquivo de configuracao "
                    "nao o inclui")
            run.wait(lambda: run.app.count(line), 13, "the unconfigured LiDAR named")
            self.assertEqual(run.diag("lidar.estado"), "lidar_fora_da_configuracao")
            self.assertEqual(run.diag("sdk.deteccao.ultimo_fora_da_configuracao"), "127.0.0.2")
            self.assertEqual(run.diag("sdk.deteccao.respostas"), 0)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--config", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
