#!/usr/bin/env python3
"""Hostile peers on the LiDAR's segment, while the simulated LiDAR streams: other hosts send
junk, oversized and undersized datagrams and well-formed but wrong frames (bad checksums, wrong
version, lying lengths, acknowledgements of requests never sent, detection replies with odd
types and serial numbers, push messages with random key tables, data datagrams whose dot counts
lie) to every UDP port the service has open. The service must keep running and publishing,
keep the LiDAR it has, and never hand data from a host that is not a LiDAR to its point or IMU
intake. Runs inside the network sandbox.

    hostile_peer_test.py --app APP [--launcher wine] --sim LIDAR_SIM --config CONFIG [--seconds N]
"""

import json
import os
import random
import socket
import struct
import sys
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (DIAG_KEY, IMU_KEY, LIDAR_KEY, Process, Redis, WorkDir, member,  # noqa: E402
                     run_tests, service_options, wait_for)

LIDAR_IP = "127.0.0.2"
ROGUE_IP = "127.0.0.5"      # answers detection as a LiDAR would, then misbehaves
STRANGER_IP = "127.0.0.6"   # never answers detection: an unknown sender
PLANTED_X_MM = 250          # a wall 0.25 m ahead, sent only by the stranger
# A robot on a table: no floor in view, so the document's front distance is the crate's face
# (2.00 m) and a wall planted 0.25 m ahead would show. A floor would set it near 0 and hide it.
TABLE_SCENE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scenes", "table.json")
TABLE_DISTANCES = {"frente": 2.00, "tras": 0.00, "esquerda": 1.00, "direita": 1.50,
                   "sup": 1.20, "inf": 0.30}
ARGS = None
SERVICE = None


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


def frame(seq, cmd_id, cmd_type, payload, version=0, length=None, good_crc=True):
    header = bytearray(24)
    struct.pack_into("<BBHIHBB", header, 0, 0xAA, version,
                     24 + len(payload) if length is None else length, seq, cmd_id, cmd_type, 1)
    struct.pack_into("<H", header, 18, crc16(header[:18]) ^ (0 if good_crc else 0x5A5A))
    struct.pack_into("<I", header, 20, zlib.crc32(payload) if payload else 0)
    return bytes(header) + payload


def detection_payload(rng, ip, dev_type=None, sn=None, ret_code=0):
    dev_type = rng.choice([0, 9, 10, 16, 77, 255]) if dev_type is None else dev_type
    sn = sn if sn is not None else rng.choice([b"", b"X" * 16, bytes(rng.randrange(1, 256)
                                                                     for _ in range(16)),
                                               b"SIM000000002"])
    return (bytes([ret_code, dev_type]) + sn[:16].ljust(16, b"\0") + socket.inet_aton(ip) +
            struct.pack("<H", rng.choice([0, 56100, 65535])))


def key_table(rng):
    entries = b""
    count = rng.randrange(0, 12)
    for _ in range(count):
        key = rng.choice([0x0000, 0x0004, 0x0012, 0x8000, 0x8001, 0x800D, 0x8011, 0xFFFE,
                          rng.randrange(0, 65536)])
        value = bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, 4, 24, 40])))
        entries += struct.pack("<HH", key, len(value)) + value
    declared = count if rng.random() < 0.7 else rng.randrange(0, 65536)
    return struct.pack("<HH", declared, 0) + entries


def data_datagram(rng, data_type, dots, records):
    header = bytearray(36)
    struct.pack_into("<H", header, 5, dots)
    header[10] = data_type
    return bytes(header) + records


def lying_data(rng):
    """A point or IMU datagram announcing more records than it carries."""
    data_type = rng.choice([0, 1, 2])
    size = {0: 24, 1: 14, 2: 8}[data_type]
    sent = rng.randrange(0, 20)
    return data_datagram(rng, data_type, sent + rng.randrange(1, 65536 - sent),
                         bytes(rng.randrange(256) for _ in range(sent * size)))


def planted_wall(rng):
    records = b"".join(struct.pack("<iiiH", PLANTED_X_MM, y, z, 0)
                       for y in range(-500, 501, 100) for z in range(-200, 201, 100))
    return data_datagram(rng, 1, len(records) // 14, records)


def control_junk(rng, lidar_ip):
    """One control-port datagram: malformed, or well formed and wrong."""
    kind = rng.randrange(9)
    seq = rng.randrange(40000, 65536)  # far from the service's own sequence numbers
    if kind == 0:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(0, 1500)))
    if kind == 1:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(0, 24)))
    if kind == 2:
        return os.urandom(rng.randrange(9000, 65000))
    if kind == 3:
        return frame(seq, 0x0101, 1, key_table(rng)[1:], good_crc=False)
    if kind == 4:
        return frame(seq, 0x0100, 1, b"\0\0\0", version=1)
    if kind == 5:
        payload = key_table(rng)
        return frame(seq, 0x0102, 0, payload, length=24 + len(payload) + rng.randrange(1, 500))
    if kind == 6:
        return frame(seq, rng.choice([0x0100, 0x0101, 0x0102, 0x0200]), 1,
                     bytes([0]) + key_table(rng)[:rng.randrange(0, 60)])
    if kind == 7:
        return frame(seq, 0x0102, 0, key_table(rng))
    return frame(seq, 0x0000, 1, detection_payload(rng, lidar_ip,
                                                   ret_code=rng.choice([0, 0, 1])))


def open_udp_ports(pids):
    """Local ports of the UDP sockets the processes hold."""
    inodes = set()
    for pid in pids:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
            except OSError:
                continue
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
    ports = set()
    with open("/proc/net/udp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[9] in inodes:
                ports.add(int(fields[1].split(":")[1], 16))
    return sorted(ports)


class HostilePeers(unittest.TestCase):
    def test_service_survives_hostile_peers_and_keeps_its_lidar(self):
        work = WorkDir("hostile").path
        redis = Redis(work)
        sim = Process("lidar_sim", [ARGS.sim, "--ip", LIDAR_IP, *SERVICE.sim_rate()[0],
                                   "--scene", TABLE_SCENE], work)
        app = SERVICE.start([ARGS.config], work)
        senders = []
        try:
            def logs():
                return app.tail(40) + "\n" + sim.tail(10)

            # A processed frame: before the first one the distances read 0.0.
            doc = wait_for(lambda: (d := redis.document(LIDAR_KEY)) and d.get("conectado")
                           and d.get("lidar_ip") == LIDAR_IP
                           and isinstance(f := member(d, "dist.frente"), float) and f > 0 and d,
                           20 + SERVICE.start_s, "the stream and the device information", logs)
            for name, expected in TABLE_DISTANCES.items():
                self.assertAlmostEqual(member(doc, "dist." + name), expected, delta=0.05, msg=name)
            # Seeing no floor is reported as such, never as "everything is ground".
            wait_for(lambda: member(redis.document(DIAG_KEY), "chao.visto") is False, 5,
                     "no ground seen", logs)
            before = {name: doc[name] for name in ("handle", "lidar_ip", "dev_type",
                                                   "firmware_version", "host_ip")}
            diag_before = redis.document(DIAG_KEY) or {}
            ports = open_udp_ports(SERVICE.socket_pids(app.proc))
            self.assertIn(56000, ports)
            self.assertIn(56301, ports)

            rng = random.Random(ARGS.seed)
            rogue = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            rogue.bind((ROGUE_IP, 0))
            stranger = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            stranger.bind((STRANGER_IP, 0))
            spoof = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            spoof.bind((LIDAR_IP, 0))  # the LiDAR's own address, another port
            senders = [rogue, stranger, spoof]
            data_ports = {56301, 56401}

            stamps, fronts, sent = [], [], 0
            end = time.monotonic() + ARGS.seconds
            next_sample = 0.0
            while time.monotonic() < end:
                for _ in range(40):
                    port = rng.choice(ports)
                    if port in data_ports:
                        sock, datagram = rng.choice([(stranger, planted_wall(rng)),
                                                     (spoof, lying_data(rng)),
                                                     (rogue, lying_data(rng)),
                                                     (stranger, os.urandom(rng.randrange(60)))])
                    elif rng.random() < 0.2:
                        # The stranger never sends a frame that passes the check.
                        sock, datagram = stranger, os.urandom(rng.randrange(1500))
                    else:
                        sock = rng.choice([rogue, spoof])
                        datagram = control_junk(rng, sock.getsockname()[0])
                    try:
                        sock.sendto(datagram, ("127.0.0.1", port))
                        sent += 1
                    except OSError:
                        pass  # a full socket buffer on our side
                time.sleep(0.02)
                if time.monotonic() >= next_sample:
                    next_sample = time.monotonic() + 0.5
                    current = redis.document(LIDAR_KEY)
                    if current:
                        stamps.append((time.monotonic(), current["timestamp"]))
                        fronts.append(member(current, "dist.frente"))
                    self.assertTrue(app.running(), logs())

            self.assertTrue(app.running(), logs())
            self.assertGreater(sent, 1000)
            # Published all along: the snapshot time moved at least every 2 s.
            changes = [t for (t, stamp), (_, prev) in zip(stamps[1:], stamps) if stamp != prev]
            gaps = [b - a for a, b in zip([stamps[0][0]] + changes, changes + [stamps[-1][0]])]
            self.assertLess(max(gaps), 2.0, f"document not refreshed for {max(gaps):.1f} s")
            # The stranger's wall never reached the point intake.
            self.assertNotIn(0.25, fronts)
            self.assertTrue(all(f is None or f == "nan" or f > 0.5 for f in fronts), fronts)
            self.assertEqual(app.count("[SUP] LiDAR OFF"), 0, logs())

            doc = wait_for(lambda: redis.document(LIDAR_KEY), 2, "the document")
            for name, value in before.items():
                self.assertEqual(doc[name], value, name)
            self.assertIs(doc["conectado"], True)
            self.assertIs(doc["sensor_ativo"], True)
            self.assertIsNotNone(redis.document(IMU_KEY))

            diag = redis.document(DIAG_KEY) or {}
            for path in ("sdk.descartados.remetente_desconhecido", "sdk.crc_rejeitados",
                         "sdk.descartados.curtos"):
                if member(diag_before, path) is not None:
                    self.assertGreater(member(diag, path), member(diag_before, path), path)

            self.assertEqual(app.stop(), 0, logs())
        finally:
            for sock in senders:
                sock.close()
            app.stop()
            sim.stop()
            redis.stop()


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("sim", "config", seconds=20.0, seed=7)
    run_tests(rest)
