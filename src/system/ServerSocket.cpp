// Server mode: a listening socket that forks one interpreter per connection, the reaping of
// those children, and the library a server may still read.
#include "ServerSocket.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Lumbra.h"
#include "builtins.h"
#include "miscfuncs.h"
#include "sets.h"

// ---------------------------------------------------------------------------
// Server mode.

// Fixed when server mode begins, so that assigning libname leads nowhere else.
static std::string serverlibrary;

void ServerMode() {
    if (!optserver) {
        ALGEB lib = A(ININlibname[1]);
        serverlibrary = lib != 0 && textual(lib) ? toCharptrU(lib) : "";
    }
    optserver = 1;
}

// A name relative to the library that never steps up out of it.
static bool insidelibrary(const std::string &file) {
    if (file.empty() || file[0] == '/') return false;
    for (size_t start = 0;;) {
        size_t slash = file.find('/', start);
        if (file.compare(start, slash == std::string::npos ? slash : slash - start, "..") == 0)
            return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

std::string ServerLibraryFile(const std::string &file) {
    if (!insidelibrary(file)) userror("cannot ReadLibrary outside the library as a server");
    return serverlibrary + "/" + file;
}

// ---------------------------------------------------------------------------
// Listening.

static void sigchld_handler(int) {
    int saved = errno;
    while (waitpid(-1, 0, WNOHANG) > 0) {
    }
    errno = saved;
}

// The listening socket, its file and the reaping of children. The listening process keeps them
// until an interrupt makes it leave; a child drops them at once, leaving the file to its parent.
struct Listener {
    int fd = -1;
    std::string bound;
    bool reaping = false;
    struct sigaction previous = {};
    Listener() = default;
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;
    ~Listener() {
        drop();
        if (!bound.empty()) unlink(bound.c_str());
    }
    void drop() {
        if (fd >= 0) close(fd);
        fd = -1;
        if (!reaping) return;
        sigaction(SIGCHLD, &previous, 0);
        reaping = false;
        sigchld_handler(0);
    }
};

[[noreturn]] static void failed(const char *msg) {
    perror("ServerSocket");
    userror(msg);
}

// A socket file that nobody listens on any more (its server was killed) may be taken over. The
// probe does not wait: a server whose queue is full is still there.
static bool stale(const sockaddr_un &addr) {
    struct stat st;
    if (lstat(addr.sun_path, &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool refused = connect(fd, (const sockaddr *)&addr, sizeof addr) != 0 && errno == ECONNREFUSED;
    close(fd);
    return refused;
}

static bool bindto(int fd, const sockaddr_un &addr) {
    if (bind(fd, (const sockaddr *)&addr, sizeof addr) == 0) return true;
    if (errno != EADDRINUSE || !stale(addr) || unlink(addr.sun_path) != 0) {
        errno = EADDRINUSE;
        return false;
    }
    return bind(fd, (const sockaddr *)&addr, sizeof addr) == 0;
}

// All output of the child goes to the peer, whatever files the server was writing to.
static void outputtopeer() {
    for (;;) {
        if (w_unit != stdout) fclose(w_unit);
        if (w_unit0 == 0) break;
        w_unit = w_unit1[--w_unit0];
    }
    w_unit = stdout;
}

// The first line the peer sends, its line end included; what follows it in the same read is
// dropped.
static ALGEB requestline(int conn) {
    char line[SERVERLINE];
    size_t n = 0;
    while (n < sizeof line && memchr(line, '\n', n) == 0) {
        ssize_t k = read(conn, line + n, sizeof line - n);
        if (k < 0 && errno == EINTR) {
            if (InterruptNow) lumbra_jump(Main);
            continue;
        }
        if (k <= 0) break;
        n += (size_t)k;
    }
    close(conn);
    if (n == 0) userror("ServerSocket: fgets error");
    if (const char *nl = (const char *)memchr(line, '\n', n)) n = (size_t)(nl - line) + 1;
    if (n <= 1) return OneChar[n == 0 ? 0 : (unsigned char)line[0]];
    ALGEB r = NewText((UWORD)n);
    memcpy(STR(r)->t, line, n);
    return r;
}

static ALGEB servechild(Listener &l, int conn) {
    l.drop();
    l.bound.clear();
    outputtopeer();
    if (dup2(conn, 1) < 0) userror("ServerSocket: dup2 stdout error");
    return requestline(conn);
}

ALGEB ServerSocket(const char *path) {
    Listener l;
    l.fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (l.fd < 0) failed("ServerSocket: socket error");
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        failed("ServerSocket: bind error");
    }
    strcpy(addr.sun_path, path);
    if (!bindto(l.fd, addr)) failed("ServerSocket: bind error");
    l.bound = path;
    if (listen(l.fd, 16) != 0) failed("ServerSocket: listen error");
    struct sigaction sa = {};
    sa.sa_handler = sigchld_handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    if (sigaction(SIGCHLD, &sa, &l.previous) != 0) failed("ServerSocket: sigaction error");
    l.reaping = true;
    if (ENVprintlevel > 1) fputs("ServerSocket: waiting for connections...\n", stderr);
    for (;;) {
        int conn = accept4(l.fd, 0, 0, SOCK_CLOEXEC);
        if (conn < 0) {
            if (errno == EINTR && InterruptNow) lumbra_jump(Main);
            if (errno != EINTR) fputs("ServerSocket: accept error\n", stderr);
            continue;
        }
        if (ENVprintlevel > 1) fputs("ServerSocket: got connection\n", stderr);
        // What is buffered now would otherwise be written once more by every child.
        fflush(0);
        pid_t pid = fork();
        if (pid == 0) return servechild(l, conn);
        if (pid < 0) fputs("ServerSocket: fork error\n", stderr);
        close(conn);
    }
}

ALGEB ServerSocketBuiltin(ALGEB fname, ALGEB t) {
    serverrefuses("cannot ServerSocket as a server");
    char path[256];
    expandname(toCharptrU(A(t[1])), path, sizeof path);
    return ServerSocket(path);
}
