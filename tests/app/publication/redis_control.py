#!/usr/bin/env python3
"""Runs a test program that needs redis-server processes it cannot start itself (a Windows
test under Wine): serves start, kill, stop and continue requests for redis-server on a loopback
port, passed to the program in LIDAR_TEST_REDIS_CONTROL, and ends every server it started when
the program ends. Exits with the program's status.

    redis_control.py -- PROGRAM [ARGS...]

Requests, one line per connection, answered with one line:
    start PORT   -> "ok PID"   redis-server on 127.0.0.1:PORT
    kill PID     -> "ok"       SIGKILL, as a crash would, and reaped
    stop PID     -> "ok"       SIGSTOP: it accepts connections but never answers
    cont PID     -> "ok"       SIGCONT
"""
import os
import signal
import socket
import subprocess
import sys
import threading

servers = {}
lock = threading.Lock()


def handle(line):
    words = line.split()
    if len(words) != 2 or not words[1].isdigit():
        return "error bad request"
    verb, number = words[0], int(words[1])
    if verb == "start":
        server = subprocess.Popen(
            ["redis-server", "--port", str(number), "--bind", "127.0.0.1",
             "--save", "", "--appendonly", "no"],
            stdout=subprocess.DEVNULL)
        with lock:
            servers[server.pid] = server
        return "ok %d" % server.pid
    with lock:
        server = servers.get(number)
    if server is None:
        return "error unknown server"
    if verb == "kill":
        server.kill()
        server.wait()
        with lock:
            del servers[number]
    elif verb in ("stop", "cont"):
        server.send_signal(signal.SIGSTOP if verb == "stop" else signal.SIGCONT)
    else:
        return "error bad request"
    return "ok"


def serve(listener):
    while True:
        connection, _ = listener.accept()
        with connection:
            request = b""
            while not request.endswith(b"\n"):
                chunk = connection.recv(256)
                if not chunk:
                    break
                request += chunk
            try:
                answer = handle(request.decode(errors="replace").strip())
            except OSError as error:
                answer = "error %s" % error
            connection.sendall((answer + "\n").encode())


def main():
    args = sys.argv[1:]
    if args and args[0] == "--":
        args = args[1:]
    if not args:
        sys.exit(__doc__)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    threading.Thread(target=serve, args=(listener,), daemon=True).start()
    env = dict(os.environ, LIDAR_TEST_REDIS_CONTROL=str(listener.getsockname()[1]))
    try:
        status = subprocess.call(args, env=env)
    finally:
        with lock:
            left = list(servers.values())
        for server in left:
            server.send_signal(signal.SIGCONT)
            server.kill()
            server.wait()
    sys.exit(status)


if __name__ == "__main__":
    main()
