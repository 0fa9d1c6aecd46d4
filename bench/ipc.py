#!/usr/bin/env python3
"""Request-answer round trips over a local socket, lumbra beside Python, as ratios.

client   lumbra's SendTcp and ReceiveTcp, and a Python client of the same framing, each making
         TRIPS round trips with one Python echo peer over one connection
serve    TRIPS one-line requests, one connection each, to lumbra's Serve and to a Python
         forking server that evaluates the same request, asked one after the other
parallel the same requests asked by CLIENTS threads at once

Each round runs lumbra and Python one after the other; the table shows the median wall seconds
(the work is mostly waiting for the other side) and the ratio of lumbra's to Python's.
"""
import argparse
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ECHO = r"""
import socket, sys
srv = socket.socket(socket.AF_UNIX)
srv.bind(sys.argv[1])
srv.listen()
pw = open(sys.argv[2], "rb").read()[:1024]

def exact(c, n):
    data = b""
    while len(data) < n:
        piece = c.recv(n - len(data))
        if not piece:
            return None
        data += piece
    return data

while True:
    c, _ = srv.accept()
    if exact(c, len(pw) + 16) is not None:
        while (head := exact(c, 8)) is not None:
            c.sendall(head + exact(c, int(head)))
    c.close()
"""

PYCLIENT = r"""
import socket, sys, time, os
trips = int(sys.argv[3])
c = socket.socket(socket.AF_UNIX)
c.connect(sys.argv[1])
c.sendall(open(sys.argv[2], "rb").read()[:1024] + b"%7d %7d " % (0, os.getpid()))

def exact(n):
    data = b""
    while len(data) < n:
        data += c.recv(n - len(data))
    return data

request = b"a request of some thirty bytes."
start = time.perf_counter()
for i in range(trips):
    c.sendall(b"%7d " % len(request) + request)
    answer = exact(int(exact(8)))
print("%.6f" % (time.perf_counter() - start))
"""

LUMCLIENT = """
ConnectTcp('{path}', false):
t := walltime():
for i to {trips} do SendTcp('a request of some thirty bytes.'); r := ReceiveTcp(10) od:
printf('%.6f\\n', walltime() - t);
DisconnectTcp();
"""

PYSERVER = r"""
import socketserver, sys
class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        self.wfile.write(repr(eval(self.rfile.readline())).encode() + b"\n")
class Server(socketserver.ForkingMixIn, socketserver.UnixStreamServer):
    request_queue_size = 16
Server(sys.argv[1], Handler).serve_forever()
"""


def wait_for(path):
    end = time.monotonic() + 30
    while not os.path.exists(path):
        if time.monotonic() > end:
            sys.exit(f"nothing listens at {path}")
        time.sleep(0.01)


def ask(path, request):
    with socket.socket(socket.AF_UNIX) as c:
        c.connect(path)
        c.sendall(request)
        return c.makefile("rb").read()


def asking(path, trips, clients):
    """Wall seconds for trips requests spread over clients threads; every answer checked."""
    bad = []

    def work(n):
        for _ in range(n):
            answer = ask(path, b"6*7\n")
            if answer != b"42\n":
                bad.append(answer)

    threads = [threading.Thread(target=work, args=(trips // clients,)) for _ in range(clients)]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    wall = time.perf_counter() - start
    if bad:
        sys.exit(f"wrong answers from {path}: {bad[:3]}")
    return wall


def main():
    # Stopped from outside, the peers are still stopped.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--lumbra", default=os.path.join(here, "..", "build-bench", "lumbra"))
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--trips", type=int, default=1000)
    ap.add_argument("--clients", type=int, default=16)
    args = ap.parse_args()
    lumbra = os.path.abspath(args.lumbra)
    python = sys.executable
    tmp = tempfile.mkdtemp(prefix="lumbra-bench-ipc-")
    pw = os.path.join(tmp, "pw")
    with open(pw, "wb") as f:
        f.write(b"a password")
    env = dict(os.environ, IPC_PW=pw)
    peers = []

    def start(argv, path, **kw):
        p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, **kw)
        peers.append(p)
        return p

    times = {k: ([], []) for k in ("client", "serve", "parallel")}
    try:
        echo = os.path.join(tmp, "echo")
        start([python, "-c", ECHO, echo, pw], echo)
        lum = os.path.join(tmp, "lumbra")
        start([lumbra, "-q", "-B"], lum, cwd=tmp).stdin.write(f"Serve('{lum}');\n".encode())
        peers[-1].stdin.close()
        py = os.path.join(tmp, "python")
        start([python, "-c", PYSERVER, py], py)
        for path in (echo, lum, py):
            wait_for(path)
        for _ in range(args.rounds):
            out = subprocess.run([lumbra, "-q", "-B"], env=env, capture_output=True, check=True,
                                 input=LUMCLIENT.format(path=echo, trips=args.trips).encode())
            times["client"][0].append(float(out.stdout))
            out = subprocess.run([python, "-c", PYCLIENT, echo, pw, str(args.trips)],
                                 capture_output=True, check=True)
            times["client"][1].append(float(out.stdout))
            times["serve"][0].append(asking(lum, args.trips, 1))
            times["serve"][1].append(asking(py, args.trips, 1))
            times["parallel"][0].append(asking(lum, args.trips, args.clients))
            times["parallel"][1].append(asking(py, args.trips, args.clients))
    finally:
        for p in peers:
            p.terminate()
            p.wait()
        subprocess.run(["rm", "-rf", tmp])

    print(f"{args.trips} round trips, {args.clients} clients at once in parallel, "
          f"median of {args.rounds} rounds (wall seconds)")
    print("| benchmark | lumbra | python3 | lumbra/python3 |")
    print("|---|---:|---:|---:|")
    for name, (lt, pt) in times.items():
        lm, pm = statistics.median(lt), statistics.median(pt)
        print(f"| {name} | {lm:.3f} | {pm:.3f} | {lm / pm:.2f} |")


if __name__ == "__main__":
    main()
