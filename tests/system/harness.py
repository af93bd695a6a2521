"""Processes of a system test run: redis-server, simulated LiDARs and the service, each with its
output in a file of the run's work directory, plus polling helpers. Used inside the network
sandbox only."""

import argparse
import json
import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

REDIS_PORT = 6379  # the service always publishes to 127.0.0.1:6379
OMNI_POINTS_PER_S = 200000  # the simulator's default rate, the Omni unit's
POINTS_PER_DATAGRAM = 96
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

    def __init__(self, name, argv, workdir, cwd=None, prefix=(), env=None,
                 stop_signal=signal.SIGTERM):
        self.name = name
        self.stop_signal = stop_signal
        self.path = os.path.join(workdir, f"{name}.log")
        self.out = open(self.path, "wb")
        self.proc = subprocess.Popen([*prefix, *argv], stdout=self.out, stderr=subprocess.STDOUT,
                                     cwd=cwd or workdir, env=env)

    def text(self):
        with open(self.path, "rb") as f:
            # Console texts are single-byte (the status line carries 0xE3).
            return f.read().decode("latin-1")

    def lines(self):
        # Splits on CRLF as well: a Windows program's lines end in CRLF.
        return self.text().splitlines()

    def count(self, needle):
        return self.text().count(needle)

    def tail(self, n=25):
        return f"--- {self.name} ---\n" + "\n".join(self.lines()[-n:])

    def running(self):
        return self.proc.poll() is None

    def stop(self, timeout=5):
        if self.running():
            self.proc.send_signal(self.stop_signal)
            try:
                self.proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.out.close()
        return self.proc.returncode


class WorkDir:
    def __init__(self, label):
        # In a sandbox for Windows programs TMPDIR is the Wine server's small private tmpfs; a
        # run's files (logs, a 64 MB configuration file) belong in /tmp.
        base = "/tmp" if os.environ.get("LIDAR_SANDBOX_WINE") == "1" else None
        self.path = tempfile.mkdtemp(prefix=f"system-{label}-", dir=base)


class Service:
    """The service under test and how it is started: the Linux `app` as it is, or the Windows
    build's app.exe through a launcher (Wine). Every system test starts the service here, so the
    same tests drive either binary."""

    def __init__(self, app, launcher=""):
        self.app = app
        self.launcher = shlex.split(launcher)
        self.windows = bool(self.launcher) and os.path.basename(
            self.launcher[0]).startswith("wine")
        # Under Wine, SIGINT reaches the program's console handler as Ctrl+C and runs its orderly
        # shutdown, while SIGTERM ends the process without one; every start costs Wine's own
        # start-up on top (1.5 s on an idle machine, up to 4 s on a busy one).
        self.stop_signal = signal.SIGINT if self.windows else signal.SIGTERM
        self.start_s = 4.0 if self.windows else 0.0
        self.env = dict(os.environ, WINEDEBUG="-all") if self.windows else None
        if self.windows and os.environ.get("LIDAR_SANDBOX_WINE") == "1":
            self.keep_wine_server()
        # Every datagram app.exe receives costs about four round trips to the Wine server: at the
        # Omni unit's rate this two-core machine falls behind (bench/report --windows measures
        # it), and the backlog in the receive buffer would delay everything the service sees by
        # seconds. Under Wine the simulator streams at half that rate, too sparse for the boxes
        # of its scene.
        self.points_per_s = OMNI_POINTS_PER_S // 2 if self.windows else OMNI_POINTS_PER_S
        self.full_density = not self.windows

    def keep_wine_server(self):
        """Starts the sandbox's Wine server to stay up until the sandbox ends. Started by the
        first program, it shuts down within about 0.15 s of the last one's exit, the moment the
        next test starts its service: a program that reaches a server on its way out dies at once
        ("wine client error:0: recvmsg: Connection reset by peer", seen in CI).
        The Windows system processes then stay up as well; booted here with no output of their
        own, they never hold a test's pipe open, which a run waits to see closed."""
        launcher = shutil.which(self.launcher[0]) or self.launcher[0]
        server = os.path.join(os.path.dirname(launcher), "wineserver")
        subprocess.run([server, "--persistent"], env=self.env, check=True, timeout=60)
        # wineboot once ended with status 1 in CI, in a test started right after another one's
        # sandbox ended; it is tried again. Its output goes to a file, not a pipe: the processes
        # it boots keep their output open for as long as they run.
        with tempfile.TemporaryFile() as output:
            for attempt in range(3):
                if attempt:
                    time.sleep(1)
                boot = subprocess.run([*self.launcher, "wineboot"], env=self.env, timeout=120,
                                      stdin=subprocess.DEVNULL, stdout=output, stderr=output)
                if boot.returncode == 0:
                    return
            output.seek(0)
            raise RuntimeError(f"wineboot failed three times (status {boot.returncode}): "
                               + output.read()[-2000:].decode(errors="replace"))

    def sim_rate(self, units=1):
        """The simulator's rate option, and the point datagrams/s it then sends, for one of
        `units` simulated units streaming at the same time: under Wine they share the rate."""
        points = self.points_per_s // units if self.windows else self.points_per_s
        return ["--rate", str(points)], points / POINTS_PER_DATAGRAM

    def assert_stream_rate(self, test, measured, expected, tolerance):
        """A rate the service measured for a stream the simulator sent at `expected` per second:
        within `tolerance` (a fraction) of it. Under Wine, on a machine busy with other work,
        app.exe falls behind the stream at times and then works off the backlog faster than it
        arrives: there the rate only has to be of the right order (a clock that is off by a
        unit still fails)."""
        if self.windows:
            low, high = expected / 4, expected * 3
        else:
            low, high = expected * (1 - tolerance), expected * (1 + tolerance)
        test.assertTrue(low <= measured <= high,
                        f"{measured:.0f}/s outside {low:.0f} to {high:.0f}/s")

    def argv(self, *args):
        return [*self.launcher, self.app, *args]

    def start(self, args, workdir, name="app", prefix=()):
        return Process(name, self.argv(*args), workdir, prefix=prefix, env=self.env,
                       stop_signal=self.stop_signal)

    def run(self, args, timeout):
        """Runs the service to its end; returns (status, standard output and error as text)."""
        done = subprocess.run(self.argv(*args), capture_output=True, env=self.env,
                              timeout=timeout + self.start_s)
        return done.returncode, (done.stdout + done.stderr).decode("latin-1")

    def socket_pids(self, proc):
        """Processes holding the service's sockets: its own, and under Wine the Wine server,
        which keeps a Windows program's sockets (the sandbox gives each run a server of its
        own)."""
        pids = [proc.pid]
        if self.windows:
            for entry in os.listdir("/proc"):
                try:
                    with open(f"/proc/{entry}/comm") as f:
                        if f.read().strip().startswith("wineserver"):
                            pids.append(int(entry))
                except (OSError, ValueError):
                    continue
        return pids


def service_options(*required, **optional):
    """options() of a script that drives the service: --app, the service's program, and
    --launcher, the command that runs it (e.g. wine for the Windows build's app.exe), besides the
    script's own. Returns the options, the Service they name, and the rest of the command line."""
    args, rest = options("app", *required, launcher="", **optional)
    return args, Service(args.app, args.launcher), rest
