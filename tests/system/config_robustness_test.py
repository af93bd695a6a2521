#!/usr/bin/env python3
"""Configuration files from users are untrusted: the real service, given a missing, empty, huge,
deeply nested or malformed file, or one with wrong types or ports out of range, names the
problem, says "[ERR] LidarSdkInit falhou" and exits with status 255, never with a crash. Runs
inside the network sandbox.

    config_robustness_test.py --app APP [--launcher wine] --config CONFIG [unittest options]
"""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import WorkDir, run_tests, service_options  # noqa: E402

ARGS = None
SERVICE = None
INIT_FAILED = "[ERR] LidarSdkInit falhou"
CANNOT_OPEN = "Parse lidar config failed, can not open json config file!"
PARSE_ERROR = "Parse lidar config failed, parse the config file has error!"


class ConfigRobustness(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir("config").path
        with open(ARGS.config) as f:
            self.valid = json.load(f)

    def write(self, name, content):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(content if isinstance(content, bytes) else content.encode())
        return path

    def variant(self, change):
        config = json.loads(json.dumps(self.valid))
        change(config)
        return json.dumps(config)

    def assert_refused(self, path, *messages):
        code, output = SERVICE.run([path], timeout=20)
        self.assertEqual(code, 255, output[-2000:])
        self.assertIn(INIT_FAILED, output)
        for message in messages:
            self.assertIn(message, output)

    def test_files_that_cannot_be_read_as_a_document(self):
        big = 64 * 1024 * 1024
        cases = {
            "missing": (os.path.join(self.work, "absent.json"), CANNOT_OPEN),
            # Linux opens a directory and reads no document from it; Windows cannot open one.
            "directory": (self.work, CANNOT_OPEN if SERVICE.windows else PARSE_ERROR),
            "empty": (self.write("empty.json", ""), PARSE_ERROR),
            "truncated": (self.write("truncated.json", '{"OMNI": {"lidar_net_info": '),
                          PARSE_ERROR),
            "stray comma": (self.write("comma.json", '{\n  "OMNI": {},\n}\n'),
                            "Parse lidar config failed at line 3 column 1: "),
            "not an object": (self.write("array.json", "[1, 2, 3]"), PARSE_ERROR),
            "binary": (self.write("binary.json", bytes(range(256)) * 64), PARSE_ERROR),
            "nested a million deep": (self.write("deep.json", "[" * 1000000), PARSE_ERROR),
            "64 MB string": (self.write("huge.json", '{"notes": "' + "x" * big + '"}'),
                             "Params check failed, all lidars config is empty."),
        }
        for name, (path, message) in cases.items():
            with self.subTest(name):
                self.assert_refused(path, message)

    def test_wrong_types_and_out_of_range_values(self):
        def lidar(key, value):
            return lambda c: c["OMNI"]["lidar_net_info"].__setitem__(key, value)

        def host(key, value):
            return lambda c: c["OMNI"]["host_net_info"][0].__setitem__(key, value)

        cases = {
            "master_sdk text": (lambda c: c.__setitem__("master_sdk", "yes"),
                                "set master/slave sdk error"),
            "log switch number": (lambda c: c.__setitem__("lidar_log_enable", 1),
                                  "Lidar log enable data type is error"),
            "lidar port text": (lidar("cmd_data_port", "56100"),
                                "has not cmd_data_port member or cmd_data_port is not uint."),
            "lidar port negative": (lidar("point_data_port", -1),
                                    "has not point_data_port member or point_data_port is not "
                                    "uint."),
            "host port above 32 bits": (host("imu_data_port", 4294967296),
                                        "has not imu_data_port or imu_data_port is not uint."),
            "host port fraction": (host("push_msg_port", 56201.5),
                                   "has not push_msg_port or push_msg_port is not uint."),
            "host port above 16 bits": (host("point_data_port", 70000),
                                        "point_data_port is 70000, out of the port range 0 to "
                                        "65535."),
            "host address not dotted": (host("host_ip", "127.0.0"),
                                        "host_ip is not an IPv4 address: \"127.0.0\"."),
            "host address number": (host("host_ip", 2130706433),
                                    "Parse host net info failed, host_ip is not string."),
            "lidar_ip not a list": (host("lidar_ip", "127.0.0.2"),
                                    "Parse lidar ip failed, has not lidar_ip member or lidar_ip "
                                    "is not object."),
            "multicast below range": (host("multicast_ip", "224.0.0.0"),
                                      "Params check failed, lidar multicast ip error:224.0.0.0"),
            "host list empty": (lambda c: c["OMNI"].__setitem__("host_net_info", []),
                                "Params check failed, all lidars config is empty."),
        }
        for name, (change, message) in cases.items():
            with self.subTest(name):
                self.assert_refused(self.write(name.replace(" ", "_") + ".json",
                                               self.variant(change)), message)


if __name__ == "__main__":
    ARGS, SERVICE, rest = service_options("config")
    run_tests(rest)
