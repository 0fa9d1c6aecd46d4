// Errors, interrupts, profiling lines and the line-oriented debugger.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Lumbra.h"
#include "evalstat.h"
#include "parse.h"
#include "simplfnc.h"

ALGEB funret = 0;
int ErrorLevel = 0;
int DebugLevel = 0;
volatile int InterruptNow = 0;
int InteracDebCalled = 0;
int printprofile = 0;
static FILE *DebugInput = 0;

static FILE *outunit() { return w_unit != 0 ? w_unit : stdout; }

void lumbra_jump(int code) { throw Unwind{code}; }

// Common tail of both user errors: lasterror is already set.
[[noreturn]] static void unwind_error(const char *msg) {
    funret = A(Environment->ctx);
    if (Environment->jump == 0) {
        fflush(stdout);
        fprintf(stderr, "Serious error, probable cause: %s\n", msg);
        normalexit();
    }
    ErrorLevel = 0;
    lumbra_jump(Error);
}

// A message longer than a name can be is cut, so that recording it cannot fail in turn.
static ALGEB messagename(const char *msg) {
    if (strlen(msg) < MAX_NAME_LENGTH) return naminstall(msg);
    char cut[MAX_NAME_LENGTH];
    memcpy(cut, msg, MAX_NAME_LENGTH - 1);
    cut[MAX_NAME_LENGTH - 1] = 0;
    return naminstall(cut);
}

void userror(const char *msg) {
    if (WSHead != 0) WSReturn();
    PrintToString = 0;
    ININlasterror[1] = W(messagename(msg));
    unwind_error(msg);
}

void userror2(ALGEB obj, const char *msg) {
    if (WSHead != 0) WSReturn();
    PrintToString = 0;
    ININlasterror[1] = W(New3(EXPSEQ, obj, messagename(msg)));
    unwind_error(msg);
}

void notimpl(const char *msg) {
    FILE *out = outunit();
    fprintf(out, "Irrecoverable system error %s\n", msg);
    int walked = 0;
    for (WORD *ctx = Environment != 0 ? Environment->ctx : 0; ctx != 0 && walked < 19;
         ctx = (WORD *)ctx[CTX_LINK], walked++) {
        ALGEB fn = A(ctx[CTX_FUNCTNAME]);
        if (fn == 0 || IMMINT(fn)) continue;
        const char *what = walked == 0 ? "running" : "called by";
        if (ID2(fn) == NAME)
            fprintf(out, "%s %s\n", what, NAMETEXT(fn));
        else if (ID2(fn) == TEXT)
            fprintf(out, "%s %.*s\n", what, (int)STR(fn)->length, STR(fn)->t);
    }
    if (walked >= 19) fprintf(out, "...\n");
    fflush(out);
    fflush(stdout);
    abort();
}

void terminate(const char *msg) {
    fprintf(outunit(), "The program terminated incorrectly: %s\n", msg);
    errorexit();
}

void assertfail(const char *cond, const char *file, int line) {
    fprintf(outunit(), "assertion failed, %s not true, file %s, line %d\n", cond, file, line);
    notimpl("assertion failed");
}

// The first interrupt asks for the debugger, the second abandons the computation, a third
// while the second is pending ends the program.
void niceexit(int sig) {
    if (optbatch) normalexit();
    if (DebugLevel < 500000000) {
        DebugLevel = 1000000000;
        return;
    }
    if (InterruptNow) {
        fputs("===Terminated by a double interrupt===\n", outunit());
        normalexit();
    }
    InterruptNow = 1;
}

void prtprof(int entering, const char *name, int level) {
    if (!printprofile) return;
    fprintf(outunit(), "%s%s %d,%.0f,%.0f\n", entering ? "->" : "<-", name, level, cused,
            cptime() * 300);
}

void PrintStack(const char *title) {
    FILE *out = outunit();
    fprintf(out, "%s -- stack:\n", title);
    fprintf(out, "\tEnvironment=%ld, evlstlev=%ld\n", (long)W(Environment),
            (long)Environment->evlstlev);
    for (WORD *ctx = Environment->ctx; ctx != 0; ctx = (WORD *)ctx[CTX_LINK]) {
        ALGEB fn = A(ctx[CTX_FUNCTNAME]);
        const char *name = "top_level";
        char buf[128];
        if (ctx != TopLevelStack) {
            name = "?";
            if (fn != 0 && is(fn, NAME))
                name = NAMETEXT(fn);
            else if (fn != 0 && is(fn, TEXT)) {
                snprintf(buf, sizeof buf, "%.*s", (int)STR(fn)->length, STR(fn)->t);
                name = buf;
            }
        }
        fprintf(out, "\t%-20s %12ld %12ld\n", name, (long)W(ctx), (long)ctx[CTX_PRINTLEVEL]);
    }
}

// Appends the escaped form of c, as the escaped string rendering writes it.
static int escapechar(char *b, unsigned char c) {
    switch (c) {
    case '\'': return sprintf(b, "''");
    case '\\': return sprintf(b, "\\\\");
    case '\a': return sprintf(b, "\\a");
    case '\b': return sprintf(b, "\\b");
    case '\f': return sprintf(b, "\\f");
    case '\n': return sprintf(b, "\\n");
    case '\r': return sprintf(b, "\\r");
    case '\t': return sprintf(b, "\\t");
    case '\v': return sprintf(b, "\\v");
    default:
        if (c >= ' ' && c < 127) {
            b[0] = (char)c;
            b[1] = 0;
            return 1;
        }
        return sprintf(b, "\\%03o", c);
    }
}

void printstr(const char *s, size_t n) {
    FILE *out = outunit();
    char chunk[1000];
    int k = 0;
    fputc('"', out);
    for (size_t i = 0; i < n; i++) {
        k += escapechar(chunk + k, (unsigned char)s[i]);
        if (k >= 990) {
            fwrite(chunk, 1, (size_t)k, out);
            k = 0;
        }
    }
    fwrite(chunk, 1, (size_t)k, out);
    fputc('"', out);
}

int DebuggerStatement(const char *line) {
    ALGEB stat;
    {
        EnvSave keep;
        EnvRecord env = *Environment;
        env.jump = 1;
        Environment = &env;
        try {
            stat = LumbraParse(line, (int)strlen(line));
        } catch (const Unwind &u) {
            if (u.code != Error) throw;
            return 0;
        }
    }
    if (stat == 0) return 0;
    InteracDebCalled = 1;
    struct Reset {
        ~Reset() { InteracDebCalled = 0; }
    } reset;
    // Names typed here mean what they mean in the procedure that is running.
    ALGEB proc = ENVcurrproc;
    if (proc != 0 && is(proc, PROC)) stat = simplfnc(stat, proc, 0);
    evalstat(stat, 2);
    return 1;
}

static void debugprompt() {
    fputs(">> ", stderr);
    fflush(stderr);
}

void InteractiveDebugger() {
    if (InteracDebCalled) return;
    fflush(stdout);
    debugprompt();
    if (DebugInput == 0) {
        DebugInput = fopen("/dev/tty", "r");
        if (DebugInput == 0) userror("unable to open /dev/tty for debugging");
    }
    char line[1024];
    for (;;) {
        if (fgets(line, sizeof line, DebugInput) == 0) {
            DebugLevel = -1;
            return;
        }
        size_t n = strlen(line);
        if (n > 0 && line[n - 1] == '\n') line[--n] = 0;
        if (n == 0) return;
        if (line[n - 1] == ':' || line[n - 1] == ';') {
            if (DebuggerStatement(line))
                debugprompt();
            else
                fputs("try again\n", stderr);
            continue;
        }
        if (strcmp(line, "done") == 0 || strcmp(line, "stop") == 0 || strcmp(line, "exit") == 0)
            normalexit();
        if (n == 1) {
            switch (line[0]) {
            case '?':
            case 'h':
            case 'H':
                fputs("<cr> - continue,  u - up,  d - down,  h - help,  p - print line\n", stderr);
                fputs("w - print stack,  o - exit debugger,  t - top,   q - quit lumbra\n", stderr);
                debugprompt();
                continue;
            case 'd':
            case 'D':
            case 'j':
            case 'J': DebugLevel = 1000000000; return;
            case 'u':
            case 'U':
            case 'k':
            case 'K': DebugLevel = (int)ENVevlstlev - 1; return;
            case 'l':
            case 'L': DebugLevel = (int)ENVevlstlev; return;
            case 'o':
            case 'O': DebugLevel = 0; return;
            case 't':
            case 'T':
                DebugLevel = 0;
                InterruptNow = 1;
                return;
            case 'q':
            case 'Q': normalexit();
            case 'p':
            case 'P':
                fputs("printing the current line is not implemented yet", stderr);
                debugprompt();
                continue;
            case 'w':
            case 'W':
                fputs("printing the current stack is not implemented yet", stderr);
                debugprompt();
                continue;
            default: break;
            }
        }
        fputs("unknown debugging command\n", stderr);
        debugprompt();
    }
}
