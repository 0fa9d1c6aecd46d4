#!/usr/bin/env python3
"""The message channel and server mode, against peers written here with the socket module.

    ipc.py LUMBRA client   the client built-ins: preamble, framing and every way a peer fails
    ipc.py LUMBRA server   Serve with concurrent clients, the refusals of server mode, -s

Nothing waits a fixed time: every wait polls for its condition until a deadline.
"""
import errno
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

LUMBRA = os.path.abspath(sys.argv[1])
DEADLINE = 60  # seconds any one wait may take before the test fails
tmp = tempfile.mkdtemp(prefix="lumbra-ipc-")
failures = []


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"FAIL {name} {detail}")


def run(script, env=None, args=("-q", "-B"), cwd=tmp):
    """Runs lumbra on the script; its standard output, exit status and process id."""
    p = subprocess.Popen([LUMBRA, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, cwd=cwd, env=env)
    out, _ = p.communicate(script.encode(), timeout=DEADLINE)
    return out.decode(errors="replace"), p.returncode, p.pid


def until(condition, what):
    end = time.monotonic() + DEADLINE
    while not condition():
        if time.monotonic() > end:
            raise TimeoutError(what)
        time.sleep(0.01)


def exact(c, n):
    data = b""
    while len(data) < n:
        piece = c.recv(n - len(data))
        if not piece:
            raise EOFError(f"peer got {data!r}, wanted {n} bytes")
        data += piece
    return data


def message(c):
    """One message as it came, header included."""
    head = exact(c, 8)
    return head + exact(c, int(head))


def frame(body):
    return b"%7d " % len(body) + body


# ---------------------------------------------------------------------------
# The client.

PW = bytes(range(256)) * 6  # 1536 bytes, of which 1024 go out
PWFILE = os.path.join(tmp, "pw")
with open(PWFILE, "wb") as f:
    f.write(PW)


def envwith(**changes):
    env = {k: v for k, v in os.environ.items() if k not in ("IPC_PW", "HOME")}
    env.update(changes)
    return env


def client(name, peer, script, want, env=None, cwd=tmp, pwlen=1024):
    """Runs script against peer(accept, seen) listening at SOCK; returns what the peer saw.
    accept() takes a connection and reads its preamble into seen["preambles"]."""
    path = os.path.join(tmp, name + ".sock")
    srv = socket.socket(socket.AF_UNIX)
    srv.bind(path)
    srv.listen()
    srv.settimeout(DEADLINE)
    seen = {"preambles": []}

    def accept():
        c, _ = srv.accept()
        c.settimeout(DEADLINE)
        seen["preambles"].append(exact(c, pwlen + 16))
        return c

    def serve():
        try:
            peer(accept, seen)
        except Exception as e:
            seen["error"] = repr(e)

    t = threading.Thread(target=serve, daemon=True)
    t.start()
    out, status, pid = run(script.replace("SOCK", path), env or envwith(IPC_PW=PWFILE), cwd=cwd)
    t.join(DEADLINE)
    srv.close()
    check(name, out == want, f"output:\n{out}\nexpected:\n{want}")
    check(name, status == 0, f"status {status}")
    check(name, "error" not in seen, seen.get("error", ""))
    seen["pid"] = pid
    return seen


def framing(accept, seen):
    c = accept()
    seen["got"] = [message(c) for _ in range(3)]
    # A header in two pieces, an empty message, and the big one back.
    c.sendall(b"      3")
    c.sendall(b" abc")
    c.sendall(frame(b""))
    c.sendall(seen["got"][2])
    seen["last"] = message(c)
    c.close()
    accept().close()


FRAMING = """
ConnectTcp('SOCK', false);
SendTcp('hello');
SendTcp('');
SendTcp(Blanks(1000000, 'x'));
ReceiveTcp(10);
length(ReceiveTcp(10));
r := ReceiveTcp(10): length(r), evalb(r = Blanks(1000000, 'x'));
SendTcp('done');
DisconnectTcp();
ConnectTcp('SOCK', true);
DisconnectTcp();
"""


def stall(accept, seen):
    c = accept()
    seen["first"] = message(c)
    # One write: once the first message is there, so is the header of the second.
    c.sendall(frame(b"ab") + b"      5 ")
    seen["second"] = message(c)
    c.sendall(b"hello")
    seen["third"] = message(c)
    c.close()


STALL = """
ConnectTcp('SOCK', false);
[ReceiveTcp(0)];
SendTcp('go');
ReceiveTcp(10);
ReceiveTcp(0);
SendTcp('more');
ReceiveTcp(10);
SendTcp('bye');
"""


def failing(accept, seen):
    # Connected twice; closed before a header, then in the middle of a body.
    c = accept()
    seen["kept"] = message(c)
    c.close()
    c = accept()
    c.sendall(b"     10 abc")
    c.close()
    # Closed with a message of the client unread: the client sees an exceptional condition.
    c = accept()
    until(lambda: len(c.recv(8, socket.MSG_PEEK)) == 8, "the unread message")
    c.close()


FAILING = """
ConnectTcp('SOCK', false);
ConnectTcp('SOCK', false);
SendTcp(Blanks(10000000, 'x'));
SendTcp('kept');
ReceiveTcp(10);
DisconnectTcp();
ConnectTcp('SOCK', false);
ReceiveTcp(10);
ConnectTcp('SOCK', false);
SendTcp('unread');
ReceiveTcp(10);
DisconnectTcp();
"""

FAILED = """Error, 'Already connected'
Error, 'message too long for SendTcp'
Error, 'Invalid message header, disconnected'
Error, 'Not connected'
Error, 'Incomplete message, disconnected'
Error, 'Exception occured, disconnected'
Error, 'Not connected'
"""

# A header is a length between blanks; anything else, or a peer that closes in the middle of
# one, is refused and the connection dropped.
HEADERS = ((b"      5 hello", "hello"), (b"0000005 hello", "hello"), (b"5       hello", "hello"),
           (b"      0 ", ""), (b"      1 x", "x"), (b"     -5 hello", "!"), (b"      5xhello", "!"),
           (b"        hello", "!"), (b"  5  5  hello", "!"), (b"   ", "!"))


def headers(accept, seen):
    for sent, _ in HEADERS:
        c = accept()
        c.sendall(sent)
        c.close()


def clients():
    seen = client("framing", framing, FRAMING, "abc\n0\n1000000, true\n")
    pid = seen["pid"]
    check("preambles", seen["preambles"] == [PW[:1024] + b"      0 %7d " % pid,
                                             PW[:1024] + b"%7d %7d " % (os.getpgid(0), pid)],
          repr([p[-16:] for p in seen["preambles"]]))
    check("messages", seen.get("got") == [frame(b"hello"), frame(b""), frame(b"x" * 1000000)],
          repr([m[:20] for m in seen.get("got", [])]))
    check("done", seen.get("last") == frame(b"done"), repr(seen.get("last")))

    seen = client("stall", stall, STALL, "[]\nab\nError, 'Timeout when reading'\nhello\n")
    check("stall", seen.get("first") == frame(b"go") and seen.get("third") == frame(b"bye"),
          repr(seen))

    seen = client("failing", failing, FAILING, FAILED)
    check("kept", seen.get("kept") == frame(b"kept"), repr(seen))

    refused = "Error, 'Invalid message header, disconnected'\nError, 'Not connected'"
    client("headers", headers, "ConnectTcp('SOCK', false); ReceiveTcp(5); DisconnectTcp();\n" *
           len(HEADERS), "".join((m if m != "!" else refused) + "\n" for _, m in HEADERS))

    # Without IPC_PW the password is .ipcpw in HOME, and without HOME in the current directory.
    home = os.path.join(tmp, "home")
    os.mkdir(home)
    with open(os.path.join(home, ".ipcpw"), "wb") as f:
        f.write(b"home")
    for name, env, cwd in (("HOME", envwith(HOME=home), tmp), ("cwd", envwith(), home)):
        seen = client("password-" + name, lambda accept, seen: accept().close(),
                      "ConnectTcp('SOCK', false);\n", "", env, cwd, pwlen=4)
        check("password " + name, seen["preambles"] == [b"home      0 %7d " % seen["pid"]],
              repr(seen))


# ---------------------------------------------------------------------------
# The server.

def children(pid):
    """The processes whose parent is pid, reaped or not."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat") as f:
                if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                    found.append(entry)
        except OSError:
            pass
    return found


servers = []  # every session started to serve, stopped at the end whatever happens


def start(path, script, cwd):
    """A session serving at path; returns once it listens."""
    p = subprocess.Popen([LUMBRA, "-q", "-B"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, cwd=cwd)
    servers.append(p)
    p.stdin.write(script.encode())
    p.stdin.close()

    def listening():
        if p.poll() is not None:
            raise RuntimeError(f"server ended: {p.stdout.read()} {p.stderr.read()}")
        with socket.socket(socket.AF_UNIX) as s:
            return s.connect_ex(path) == 0

    until(listening, "the server to listen")
    return p


def stop(p):
    p.send_signal(signal.SIGTERM)
    p.wait(DEADLINE)
    p.stdout.close()
    p.stderr.close()


def connect(path):
    """A connection to the server at path; while its queue is full, connecting is tried again."""
    c = socket.socket(socket.AF_UNIX)
    c.setblocking(False)

    def connected():
        try:
            c.connect(path)
            return True
        except BlockingIOError:
            return False

    until(connected, "room in the queue of " + path)
    c.settimeout(DEADLINE)
    return c


def ask(path, request):
    with connect(path) as c:
        c.sendall(request)
        return c.makefile("rb").read().decode(errors="replace")


def server():
    work = os.path.join(tmp, "server")
    os.mkdir(work)
    os.mkdir(os.path.join(work, "lib"))
    with open(os.path.join(work, "lib", "secret"), "w") as f:
        f.write("leaked := 1:\n")
    path = os.path.join(work, "serve.sock")
    made = os.path.join(work, "made")
    p = start(path, f"Serve('{path}');\n", work)

    refused = {
        f"OpenPipe('touch {made}')": "cannot do OpenPipe as a server",
        f"OpenAppending('{made}')": "cannot do OpenAppending/OpenWriting as a server",
        f"OpenWriting('{made}')": "cannot do OpenAppending/OpenWriting as a server",
        f"CallSystem('touch {made}')": "cannot do CallSystem as a server",
        f"ReadRawFile('{PWFILE}')": "cannot do ReadRawFile as a server",
        f"ReadProgram('{PWFILE}')": "Cannot ReadProgram as a server",
        f"OpenReading('{PWFILE}')": "Cannot OpenReading as a server",
        f"ReadOffsetLine('{PWFILE}', 0)": "cannot ReadOffsetLine as a server",
        f"ConnectTcp('{path}', false)": "cannot do ConnectTcp as a server",
        "SendTcp('x')": "cannot do SendTcp as a server",
        "ReceiveTcp(1)": "cannot do ReceiveTcp as a server",
        "DisconnectTcp()": "cannot do DisconnectTcp as a server",
        f"ServerSocket('{path}2')": "cannot ServerSocket as a server",
        f"TimedCallSystem('touch {made}')": "cannot do TimedCallSystem as a server",
        f"RawFileStat('{PWFILE}')": "cannot do FileStat as a server",
        f"LockFile('{made}')": "cannot do LockFile as a server",
        "setenv('IPC_PW', 'x')": "cannot do setenv as a server",
        "StartDebugger()": "cannot do StartDebugger as a server",
        f"Set(plotoutput = '{made}')": "cannot redirect plot output as a server",
        "Set(server = false)": "setting of server must be true",
        f"ReadLibrary('{work}/lib/secret', leaked)": "cannot ReadLibrary outside the library as a server",
        "libname := 'lib': ReadLibrary('secret', leaked)": "unable to read file to load",
        "ReadLibrary('models/../../README.md', leaked)":
            "cannot ReadLibrary outside the library as a server",
        f"ReadDb('{PWFILE}')": "cannot do ReadDb as a server",
        f"SeqFileToDb('{PWFILE}', 'FASTA')": "cannot do SeqFileToDb as a server",
    }
    answered = {
        "[seq(i^2, i = 1..5)]": "[1, 4, 9, 16, 25]\n",
        "x := 3; x^2, 'two', x": "9, two, 3\n",
        "lprint(5)": "5\n",
        # The library is still read, subdirectories included.
        "help(exp), type(ReadLibrary('models/LG'))":
            "exp(x:{numeric,list})\n    the exponential function; of a square matrix, the matrix "
            "exponential\nlist\n",
        "1 +": "Error, (in Serve) syntax error\n",
    }
    requests = [(r, f"Error, (in Serve) {m}\n") for r, m in refused.items()] + list(answered.items())

    # Every client is connected before any sends: each has a process of its own waiting.
    clients = [connect(path) for _ in requests]
    until(lambda: len(children(p.pid)) >= len(requests), f"{len(requests)} children")
    for c, (request, want) in reversed(list(zip(clients, requests))):
        c.sendall(request.encode() + b"\n")
    for c, (request, want) in zip(clients, requests):
        got = c.makefile("rb").read().decode(errors="replace")
        c.close()
        check("serve " + request, got == want, f"answer {got!r}, expected {want!r}")
    check("server files", sorted(os.listdir(work)) == ["lib", "serve.sock"], repr(os.listdir(work)))

    # A peer that leaves without a request; a request that is not one line.
    connect(path).close()
    check("long request", ask(path, b"1" * 10000) ==
          "Error, (in Serve) request longer than 10000 characters\n")
    check("after", ask(path, b"2+3\n") == "5\n")
    until(lambda: not children(p.pid), "every child reaped")
    check("server alive", p.poll() is None)

    # A second server cannot take the socket of a live one; a dead one's socket is taken over.
    out, status, _ = run(f"Serve('{path}');\n", cwd=work)
    check("live socket", out == "Error, (in Serve) ServerSocket: bind error\n", out)
    stop(p)
    check("stale socket left", os.path.exists(path))

    # The second server's probe was a connection: until its child has gone, that child still
    # holds the listening socket it was forked with, and a client would be queued there, never
    # to be answered.
    def refused():
        with socket.socket(socket.AF_UNIX) as s:
            return s.connect_ex(path) == errno.ECONNREFUSED

    until(refused, "nobody to listen on " + path)
    p = start(path, f"Serve('{path}');\n", work)
    check("taken over", ask(path, b"6*7\n") == "42\n")
    stop(p)

    # ServerSocket itself: the child goes on with the script, its output to the peer, whatever
    # output file the server had.
    raw = os.path.join(work, "raw.sock")
    p = start(raw, f"OpenWriting('{work}/log'): r := ServerSocket('{raw}'): "
                   "lprint(length(r), r): quit;\n", work)
    check("ServerSocket", ask(raw, b"one line\nnot this\n") == "9 one line\n\n")
    stop(p)
    check("no log written", os.path.getsize(os.path.join(work, "log")) == 0)

    # Under -s the same refusals end the session with status 1, Serve's as well.
    for call, want in (("ConnectTcp('s', false)", "Error, 'cannot do ConnectTcp as a server'"),
                       ("Serve('s')", "Error, (in Serve) cannot ServerSocket as a server")):
        out, status, _ = run(call + ";\n2;\n", args=("-q", "-s"))
        check("-s " + call, out == want + "\n" and status == 1, f"{out!r} status {status}")


if __name__ == "__main__":
    # A test stopped from outside still stops the servers it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("FAIL stopped"))
    try:
        {"server": server, "client": clients}[sys.argv[2]]()
    except Exception as e:
        failures.append(f"FAIL {e!r}")
    finally:
        for p in servers:
            if p.poll() is None:
                p.kill()
                p.wait()
        subprocess.run(["rm", "-rf", tmp])
    print("\n".join(failures) or f"ipc {sys.argv[2]}: all checks passed")
    sys.exit(1 if failures else 0)
