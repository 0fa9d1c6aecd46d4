// Small services of the operating system: home directories, lock files, the host, the date,
// the wall clock and shell commands, with or without a time limit.
#include "miscfuncs.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "Lumbra.h"

extern char **environ;

void expandname(const char *name, char *buffer, size_t size) {
    const char *home = "", *rest = name;
    if (name[0] == '~') {
        const char *slash = strchr(name, '/');
        size_t ulen = slash != 0 ? (size_t)(slash - name - 1) : strlen(name + 1);
        rest = name + 1 + ulen;
        char user[24];
        if (ulen > sizeof user - 1) ulen = sizeof user - 1;
        memcpy(user, name + 1, ulen);
        user[ulen] = 0;
        struct passwd *pw = ulen == 0 ? getpwuid(getuid()) : getpwnam(user);
        if (pw == 0) {
            char msg[60];
            snprintf(msg, sizeof msg, "Unknown user: %s", user);
            userror(msg);
        }
        home = pw->pw_dir;
    }
    int n = snprintf(buffer, size, "%s%s", home, rest);
    if (n < 0 || (size_t)n >= size) userror("File name too long");
}

ALGEB LockFile(const char *path, const char *message) {
    if (message != 0 && strlen(message) > 400) userror("message too long for LockFile");
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_TRUNC, 0664);
    if (fd < 0) return ININfalse;
    ALGEB host = hostname(), when = date();
    char line[700];
    int n = snprintf(line, sizeof line, "Lumbra lock: %.*s, pid=%d, %.*s%s%s\n",
                     (int)STR(host)->length, STR(host)->t, (int)getpid(), (int)STR(when)->length,
                     STR(when)->t, message != 0 ? ", " : "", message != 0 ? message : "");
    if (write(fd, line, (size_t)n) != n) {
        close(fd);
        userror("LockFile: writing lock file failed");
    }
    close(fd);
    return ININtrue;
}

ALGEB hostname() {
    struct utsname u;
    if (uname(&u) != 0) return OneChar[0];
    char *dot = strchr(u.nodename, '.');
    if (dot != 0) *dot = 0;
    return CreateString(u.nodename);
}

ALGEB date() {
    time_t now = time(0);
    char buf[32];
    if (ctime_r(&now, buf) == 0) return OneChar[0];
    buf[24] = 0;
    return CreateString(buf);
}

double rtime() {
    struct timeval tv;
    gettimeofday(&tv, 0);
    return (double)tv.tv_sec + (double)tv.tv_usec * 1e-6;
}

ALGEB CallSystem(const char *command) {
    fflush(w_unit);
    fflush(stdout);
    return Newint(system(command));
}

// ---------------------------------------------------------------------------
// Commands with a time limit.

// Commands that ran out of time are left running; they are reaped once they end.
static std::vector<pid_t> abandoned;

static void reapabandoned() {
    for (size_t i = 0; i < abandoned.size();) {
        if (waitpid(abandoned[i], 0, WNOHANG) == 0) {
            i++;
            continue;
        }
        abandoned[i] = abandoned.back();
        abandoned.pop_back();
    }
}

namespace {

constexpr int CHUNKTEXT = 8000;

// Output in pieces of 8000 characters, kept as GARBAGE objects so the collector never
// looks inside them.
struct Chunk {
    WORD id;
    Chunk *next;
    char text[CHUNKTEXT];
};
constexpr WORD CHUNKWORDS = sizeof(Chunk) / sizeof(WORD);
static_assert(sizeof(Chunk) % sizeof(WORD) == 0);

// The chunks of one command, newest first; whatever is left is released on every way out.
struct ChunkList {
    Chunk *head = 0;
    WORD count = 0;
    ChunkList() = default;
    ChunkList(const ChunkList &) = delete;
    ChunkList &operator=(const ChunkList &) = delete;
    ~ChunkList() {
        while (head != 0)
            pop();
    }
    void push(const char *text) {
        Chunk *c = (Chunk *)Newl1(CHUNKWORDS, GARBAGE);
        memcpy(c->text, text, CHUNKTEXT);
        c->next = head;
        head = c;
        count++;
    }
    void pop() {
        Chunk *c = head;
        head = c->next;
        count--;
        release((ALGEB)c, CHUNKWORDS);
    }
};

// A running command whose standard output comes through fd. Unless finished, leaving the
// scope closes the pipe without waiting, so a command that keeps writing meets a broken pipe.
struct Command {
    pid_t pid = -1;
    int fd = -1;
    Command() = default;
    Command(const Command &) = delete;
    Command &operator=(const Command &) = delete;
    ~Command() {
        if (fd >= 0) close(fd);
        if (pid > 0) abandoned.push_back(pid);
    }
    // The wait status of the command, as pclose gives it.
    int finish() {
        close(fd);
        fd = -1;
        int status;
        pid_t p = pid;
        pid = -1;
        while (waitpid(p, &status, 0) < 0)
            if (errno != EINTR) return -1;
        return status;
    }
};

enum class Piece { Full, Last, Timeout };

} // namespace

// Runs "sh -c command" with its standard output into a pipe; the command gets the default
// handling of broken pipes back, which the interpreter itself ignores.
static bool startcommand(const char *command, Command *c) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, p[1], 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t dflt;
    sigemptyset(&dflt);
    sigaddset(&dflt, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &dflt);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    char *argv[] = {(char *)"sh", (char *)"-c", (char *)command, 0};
    int err = posix_spawn(&c->pid, "/bin/sh", &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(p[1]);
    if (err != 0) {
        close(p[0]);
        c->pid = -1;
        errno = err;
        return false;
    }
    c->fd = p[0];
    return true;
}

// Reads up to CHUNKTEXT characters into buf; fewer only at the end of the output. Every wait
// is bounded by what is left of the limit.
static Piece readpiece(int fd, char *buf, size_t *n, double start, int seconds) {
    *n = 0;
    while (*n < CHUNKTEXT) {
        int wait = -1;
        if (seconds != 0) {
            double ms = (seconds - (rtime() - start)) * 1000 + 1;
            wait = ms < 1 ? 1 : ms > INT_MAX ? INT_MAX : (int)lrint(ms);
        }
        struct pollfd p = {fd, POLLIN, 0};
        int k = poll(&p, 1, wait);
        if (k == 0) return Piece::Timeout;
        ssize_t got = k < 0 ? -1 : read(fd, buf + *n, CHUNKTEXT - *n);
        if (got == 0) return Piece::Last;
        if (got < 0) {
            if (errno != EINTR) userror("command ended in error");
            if (InterruptNow) lumbra_jump(Main);
            continue;
        }
        *n += (size_t)got;
    }
    return Piece::Full;
}

ALGEB TimedCallSystem(const char *command, int seconds) {
    reapabandoned();
    double start = rtime();
    Command cmd;
    if (!startcommand(command, &cmd)) {
        fprintf(w_unit, "command: %s\n", command);
        perror("TimedCallSystem failed");
        userror("Cannot create pipe");
    }
    ChunkList chunks;
    char last[CHUNKTEXT];
    size_t lastn;
    Piece piece;
    while ((piece = readpiece(cmd.fd, last, &lastn, start, seconds)) == Piece::Full)
        chunks.push(last);
    if (piece == Piece::Timeout)
        return New2(LIST, New3(EXPSEQ, Newint(-1), CreateString("(Timeout)")));

    // Filled from the back: the last piece, then the chunks from the newest to the oldest.
    UWORD total = (UWORD)chunks.count * CHUNKTEXT + lastn;
    ALGEB out = total <= 1 ? OneChar[total == 0 ? 0 : (unsigned char)last[0]] : NewText(total);
    if (total > 1) {
        char *end = STR(out)->t + total - lastn;
        memcpy(end, last, lastn);
        while (chunks.head != 0) {
            end -= CHUNKTEXT;
            memcpy(end, chunks.head->text, CHUNKTEXT);
            chunks.pop();
        }
    }
    return New2(LIST, New3(EXPSEQ, Newint(cmd.finish()), out));
}
