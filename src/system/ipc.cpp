// The message channel: one client connection to a peer over a local socket, with its password
// preamble and its length-prefixed messages.
#include "ipc.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "Lumbra.h"
#include "builtins.h"
#include "miscfuncs.h"
#include "sets.h"

// The connection, -1 when there is none.
static int s = -1;

// The message being received: its header, then as much of its body as has come. A message that
// does not arrive within one call's timeout stays here and the next call goes on with it, so a
// slow peer loses nothing and the stream stays in step.
static std::vector<char> inbox;
static size_t have = 0;

void IPCerror(const char *operation) {
    std::string msg = std::string("IPC [") + operation + "]: " + strerror(errno);
    userror(msg.c_str());
}

static void disconnect() {
    if (s >= 0) close(s);
    s = -1;
    have = 0;
    std::vector<char>().swap(inbox);
}

[[noreturn]] static void disconnected(const char *msg) {
    disconnect();
    userror(msg);
}

// ---------------------------------------------------------------------------
// Sending.

// Writes every byte of the pieces and returns how many; fewer only when a failure or an
// interrupt stops it, with errno telling which.
static size_t sendall(iovec *iov, int n) {
    size_t done = 0;
    while (n > 0) {
        msghdr m = {};
        m.msg_iov = iov;
        m.msg_iovlen = (size_t)n;
        ssize_t k = sendmsg(s, &m, MSG_NOSIGNAL);
        if (k < 0) {
            if (errno == EINTR && !InterruptNow) continue;
            return done;
        }
        done += (size_t)k;
        for (; n > 0 && (size_t)k >= iov->iov_len; iov++, n--)
            k -= (ssize_t)iov->iov_len;
        if (n > 0) {
            iov->iov_base = (char *)iov->iov_base + k;
            iov->iov_len -= (size_t)k;
        }
    }
    return done;
}

// An interrupt during a send: a peer left with part of a message can no longer find where the
// next one begins, so the connection goes.
static void sendinterrupted(size_t done) {
    if (errno != EINTR) return;
    if (done > 0) disconnect();
    lumbra_jump(Main);
}

void SendTcp(const char *bytes, size_t length) {
    if (s < 0) userror("Not connected");
    if (length > IPCMAXMESSAGE) userror("message too long for SendTcp");
    char header[IPCHEADER + 1];
    snprintf(header, sizeof header, "%7d ", (int)length);
    iovec iov[2] = {{header, IPCHEADER}, {(void *)bytes, length}};
    size_t done = sendall(iov, 2);
    if (done == IPCHEADER + length) return;
    sendinterrupted(done);
    if (done == 0) IPCerror("write");
    userror("Could not complete send");
}

// ---------------------------------------------------------------------------
// Connecting.

// The file named by IPC_PW, else .ipcpw in the home directory, else in the current one.
static std::string passwordfile() {
    if (const char *pw = getenv("IPC_PW")) return pw;
    if (const char *home = getenv("HOME")) return std::string(home) + "/.ipcpw";
    return ".ipcpw";
}

static bool readpassword(const std::string &path, std::string *pw) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[IPCMAXPASSWORD];
    size_t n = 0;
    while (n < sizeof buf) {
        ssize_t k = read(fd, buf + n, sizeof buf - n);
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) {
            close(fd);
            return false;
        }
        if (k == 0) break;
        n += (size_t)k;
    }
    close(fd);
    pw->assign(buf, n);
    return true;
}

void ConnectTcp(const char *path, bool sendgroup) {
    std::string pwfile = passwordfile(), pw;
    if (!readpassword(pwfile, &pw)) {
        std::string msg = "Cannot open password file " + pwfile;
        userror(msg.c_str());
    }
    if (s >= 0) userror("Already connected");
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    char name[256];
    expandname(path, name, sizeof name);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) IPCerror("socket");
    s = fd;
    if (strlen(name) >= sizeof addr.sun_path) {
        disconnect();
        errno = ENAMETOOLONG;
        IPCerror("connect");
    }
    strcpy(addr.sun_path, name);
    while (connect(s, (sockaddr *)&addr, sizeof addr) != 0) {
        if (errno == EINTR && !InterruptNow) continue;
        int err = errno;
        disconnect();
        if (err == EINTR) lumbra_jump(Main);
        errno = err;
        IPCerror("connect");
    }
    char ids[17];
    snprintf(ids, sizeof ids, "%7d %7d ", sendgroup ? (int)getpgrp() : 0, (int)getpid());
    iovec iov[2] = {{pw.data(), pw.size()}, {ids, 16}};
    size_t done = sendall(iov, 2);
    if (done == pw.size() + 16) return;
    // Without its whole preamble the connection is of no use.
    int err = errno;
    disconnect();
    if (err == EINTR) lumbra_jump(Main);
    errno = err;
    IPCerror("write");
}

void DisconnectTcp() {
    if (s < 0) userror("Not connected");
    disconnect();
}

// ---------------------------------------------------------------------------
// Receiving.

static double monotonic() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

enum class Ready { Data, Timeout, Exception };

// Waits at most seconds for the connection to become readable. A closed peer counts as
// readable: the read that follows finds the end.
static Ready await(double seconds) {
    double deadline = monotonic() + seconds;
    for (;;) {
        double left = (deadline - monotonic()) * 1000;
        int ms = left <= 0 ? 0 : left >= INT_MAX ? INT_MAX : (int)std::ceil(left);
        pollfd p = {s, POLLIN | POLLPRI, 0};
        int k = poll(&p, 1, ms);
        if (k > 0)
            return (p.revents & (POLLERR | POLLPRI | POLLNVAL)) ? Ready::Exception : Ready::Data;
        if (k == 0 && ms < INT_MAX) return Ready::Timeout;
        if (k < 0 && errno != EINTR) IPCerror("poll");
        if (InterruptNow) lumbra_jump(Main);
    }
}

enum class Got { All, Nothing, Timeout };

// Reads until the inbox holds want bytes, waiting at most timeout seconds for each piece.
// Nothing when not one byte of a new message came in time.
static Got receive(size_t want, double timeout) {
    inbox.resize(want);
    while (have < want) {
        ssize_t k = recv(s, inbox.data() + have, want - have, MSG_DONTWAIT);
        if (k > 0) {
            have += (size_t)k;
            continue;
        }
        if (k == 0)
            disconnected(have < IPCHEADER ? "Invalid message header, disconnected"
                                          : "Incomplete message, disconnected");
        if (errno == EINTR) {
            if (InterruptNow) lumbra_jump(Main);
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            disconnected("Exception occured, disconnected");
        switch (await(timeout)) {
        case Ready::Data: break;
        case Ready::Timeout: return have == 0 ? Got::Nothing : Got::Timeout;
        case Ready::Exception: disconnected("Exception occured, disconnected");
        }
    }
    return Got::All;
}

// The length a header announces: blanks, decimal digits, blanks; -1 for anything else.
static long headerlength(const char *h) {
    int i = 0;
    while (i < IPCHEADER && h[i] == ' ')
        i++;
    long n = 0;
    int digits = 0;
    for (; i < IPCHEADER && h[i] >= '0' && h[i] <= '9'; i++, digits++)
        n = 10 * n + (h[i] - '0');
    while (i < IPCHEADER && h[i] == ' ')
        i++;
    return digits > 0 && i == IPCHEADER ? n : -1;
}

ALGEB ReceiveTcp(double timeout) {
    if (s < 0) userror("Not connected");
    if (have < IPCHEADER) {
        switch (receive(IPCHEADER, timeout)) {
        case Got::All: break;
        case Got::Nothing: return 0;
        case Got::Timeout: userror("Timeout when reading");
        }
    }
    long length = headerlength(inbox.data());
    if (length < 0) disconnected("Invalid message header, disconnected");
    if (receive(IPCHEADER + (size_t)length, timeout) != Got::All) userror("Timeout when reading");
    ALGEB r = length == 0   ? OneChar[0]
              : length == 1 ? OneChar[(unsigned char)inbox[IPCHEADER]]
                            : NewText((UWORD)length);
    if (length > 1) memcpy(STR(r)->t, inbox.data() + IPCHEADER, (size_t)length);
    have = 0;
    if (inbox.capacity() > ((size_t)1 << 20)) std::vector<char>().swap(inbox);
    return r;
}

// ---------------------------------------------------------------------------
// The built-ins.

ALGEB ConnectTcpBuiltin(ALGEB fname, ALGEB t) {
    serverrefuses("cannot do ConnectTcp as a server");
    ConnectTcp(toCharptrU(A(t[1])), A(t[2]) == ININtrue);
    return null;
}

ALGEB SendTcpBuiltin(ALGEB fname, ALGEB t) {
    serverrefuses("cannot do SendTcp as a server");
    Chars m = textof(A(t[1]));
    SendTcp(m.s, m.n);
    return null;
}

ALGEB ReceiveTcpBuiltin(ALGEB fname, ALGEB t) {
    serverrefuses("cannot do ReceiveTcp as a server");
    ALGEB r = ReceiveTcp(std::max(0.0, DBL(A(t[1]))));
    return r != 0 ? r : null;
}

ALGEB DisconnectTcpBuiltin(ALGEB fname, ALGEB t) {
    serverrefuses("cannot do DisconnectTcp as a server");
    DisconnectTcp();
    return null;
}
