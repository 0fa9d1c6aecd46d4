// Start-up, the command line, the read-evaluate loop and the way out of the program.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/times.h>
#include <unistd.h>

#include "Lumbra.h"
#include "ServerSocket.h"
#include "cmdedit.h"
#include "evalstat.h"
#include "parse.h"
#include "rand.h"

#ifndef LUMBRA_LIBDIR
#define LUMBRA_LIBDIR "lib"
#endif

int optquiet = 0, optserver = 0, optbatch = 0, opterrorexit = 0;
ALGEB TraceBackFunctname[MAXTRACEBACK];
ALGEB TraceBackArgs[MAXTRACEBACK];
ALGEB TraceBackCurrstat = 0, TraceBackCurrproc = 0, TraceBackLocals = 0;
ALGEB prompt = 0;
const double Version = 4.0;
const char LogoDate[] = __DATE__;

WORD TopLevelStack[LumbraStackSize];
EnvRecord IniEnv = {0, 1, TopLevelStack};
EnvRecord *Environment = &IniEnv;

double NaNerror;
ALGEB null, ModuleNull, EmptyList, EmptySet, cons0, cons1, consm1;
ALGEB OneChar[256];
char OneChars[256];

// ---------------------------------------------------------------------------
// Stack guard. The interpreter runs on a thread whose stack we size ourselves, so deep
// recursion in the language is limited by this guard and never by the process stack.

static char *StackBottom;
static int StackSign = -1;
static WORD StackSafety; // bytes kept free for reporting the overflow
static WORD StackSize;   // bytes the interpreter may use
static constexpr WORD STACKMARGIN = 940090;
// Sanitized frames are several times larger, yet the address sanitizer cleans the frames that
// an exception leaves only on stacks of at most 64 MB; beyond, it reports false overflows. The
// same stack then serves both builds.
static constexpr size_t INTERPSTACK = (size_t)64 << 20;

[[gnu::noinline]] static int stackdirection(char *callerlocal) {
    char here;
    return &here > callerlocal ? 1 : -1;
}

char *StackLow = 0, *StackHigh = (char *)UINTPTR_MAX;

void stackoverflow() { userror("stack overflow, stack too small or infinite recursion"); }

// ---------------------------------------------------------------------------
// Processor time and the way out

double cptime() {
    struct tms t;
    if (times(&t) == (clock_t)-1) return -1.0;
    return (double)(t.tms_utime + t.tms_stime) / (double)sysconf(_SC_CLK_TCK);
}

double cptime_all() {
    struct tms t;
    if (times(&t) == (clock_t)-1) return -1.0;
    return (double)(t.tms_utime + t.tms_stime + t.tms_cutime + t.tms_cstime) /
           (double)sysconf(_SC_CLK_TCK);
}

void exitWithStatus(int status) {
    ResetCmdEdit();
    FILE *out = w_unit != 0 ? w_unit : stdout;
    if (!optquiet) fprintf(out, "%8.2f secs of cpu used\n", cptime());
    fflush(out);
    fflush(stdout);
    exit(status);
}

// Double precision, round to nearest, all floating-point exceptions masked.
static void setfpmode() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned short cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    cw = (unsigned short)((cw & ~0x0F00) | 0x0200 | 0x003F);
    __asm__ volatile("fldcw %0" : : "m"(cw));
    unsigned int mxcsr;
    __asm__ volatile("stmxcsr %0" : "=m"(mxcsr));
    mxcsr = (mxcsr & ~0x6000u) | 0x1F80u;
    __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
#endif
}

// ---------------------------------------------------------------------------
// Start-up

void InitObjects() {
    static bool done = false;
    if (done) return;
    done = true;
    NaNerror = MakeNaN(A(1));
    Environment = &IniEnv;
    IniEnv.evlstlev = 1;
    IniEnv.ctx = TopLevelStack;
    InitHashTables();
    cons0 = MKIMM(0);
    cons1 = MKIMM(1);
    consm1 = MKIMM(-1);
    InstallNames();
    null = New1(EXPSEQ);
    EmptyList = New2(LIST, null);
    EmptySet = New2(SET, null);
    ModuleNull = New1(EXPSEQ);
    ININNULL[1] = W(null);
    for (int i = 0; i < 3; i++)
        ininame[i][1] = W(null);
    for (int c = 0; c < 256; c++) {
        OneChars[c] = (char)c;
        ALGEB t = Newl1(3, TEXT);
        t[1] = 1;
        t[2] = W(&OneChars[c]);
        OneChar[c] = t;
    }
    OneChar[0][1] = 0;
    prompt = CreateString("> ");
    TopLevelStack[CTX_LINK] = 0;
    TopLevelStack[CTX_PRINTLEVEL] = 1;
    ININprintlevel[1] = W(MKIMM(1));
    for (int i = CTX_LOCALS; i < LumbraStackSize; i++)
        TopLevelStack[i] = W(null);
    InitInput();
    ININlibname[1] = W(naminstall(LUMBRA_LIBDIR));
}

static const char UsageMessage[] =
    "invalid command line option (lumbra [-q] [-s] [-B] [-E] [-U] [-l lib_dir] [-S init_file] "
    "[-i input_file] [-o output_file])";

void LumbraInit(int argc, char **argv) {
    InitObjects();
    const char *stress = getenv("LUMBRA_GCSTRESS");
    if (stress != 0 && strcmp(stress, "1") == 0) gcstress = 1;
    const char *initfile = 0;
    bool server = false;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (a[0] != '-' || a[1] == 0 || a[2] != 0) terminate(UsageMessage);
        switch (a[1]) {
        case 'l':
            if (++i >= argc) terminate("missing -l argument (library directory)");
            ININlibname[1] = W(naminstall(argv[i]));
            break;
        case 'q': optquiet = 1; break;
        case 's': server = true; break;
        case 'B': optbatch = 1; break;
        case 'E': opterrorexit = 1; break;
        case 'U': setvbuf(stdout, 0, _IOLBF, 0); break;
        case 'S':
            if (++i >= argc) terminate("missing -S argument (lumbrait file)");
            initfile = argv[i];
            break;
        case 'i':
            if (++i >= argc) terminate("missing -i argument (input file)");
            if (freopen(argv[i], "r", stdin) == 0) {
                printf("file %s ", argv[i]);
                terminate("is not a valid file for option -i");
            }
            break;
        case 'o': {
            if (++i >= argc) terminate("missing -o argument (output file)");
            int fd = open(argv[i], O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) {
                printf("file %s ", argv[i]);
                terminate("is not valid for option -o, it fails to open");
            }
            fflush(stdout);
            dup2(fd, 1);
            close(fd);
            break;
        }
        default: terminate(UsageMessage);
        }
    }
    // Server mode begins once -l has named the library a server may read.
    if (server) ServerMode();
    char path[4200];
    if (initfile == 0) {
        ALGEB lib = A(ININlibname[1]);
        if (lib != 0 && is(lib, NAME))
            snprintf(path, sizeof path, "%s/lumbrait", NAMETEXT(lib));
        else if (lib != 0 && is(lib, TEXT))
            snprintf(path, sizeof path, "%.*s/lumbrait", (int)STR(lib)->length, STR(lib)->t);
        else
            snprintf(path, sizeof path, "lumbrait");
        initfile = path;
    }
    if (!Ropen(initfile, 0)) terminate("cannot open lumbrait file");
    msrand(1);
    if (!optquiet) {
        printf("Lumbra: Sequence Searching Facility\n");
        printf("Version %.1f, %s\n", Version, LogoDate);
    }
}

// ---------------------------------------------------------------------------
// The read-evaluate loop

static void printonline(ALGEB x) { lineprint(x, 0); }

// A loop or conditional is shown with its statement parts elided.
static ALGEB elided(ALGEB stat) {
    if (stat == 0 || IMMINT(stat)) return stat;
    ALGEB dots = naminstall("...");
    if (ID2(stat) == FOR) {
        ALGEB c = copyalg(stat);
        c[LENGTH2(c) - 1] = W(dots);
        return c;
    }
    if (ID2(stat) == IF) {
        ALGEB c = copyalg(stat);
        WORD L = LENGTH2(c);
        for (WORD i = 2; i < L; i += 2)
            c[i] = W(dots);
        if (L % 2 == 0) c[L - 1] = W(dots);
        return c;
    }
    return stat;
}

// The report is written unfolded: each of its lines is one line of output.
static void reporterror() {
    Environment = &IniEnv;
    IniEnv.evlstlev = 1;
    PrintToString = 0;
    lline = 0;
    struct Unfolded {
        int saved = BreakLongLines;
        Unfolded() { BreakLongLines = 0; }
        ~Unfolded() { BreakLongLines = saved; }
    } unfolded;
    ALGEB err = A(ININlasterror[1]);
    if (ErrorLevel <= 0) {
        prpart("Error, ");
        if (optquiet) prpart("'");
        printonline(err);
        if (optquiet) prpart("'");
    } else {
        prpart("Error, (in ");
        printonline(TraceBackFunctname[0]);
        prpart(") ");
        printonline(err);
    }
    mendline();
    WORD plev = TopLevelStack[CTX_PRINTLEVEL];
    if (plev > 1 && ErrorLevel > 0) {
        ALGEB saved = procprint;
        procprint = TraceBackCurrproc;
        prpart("        executing statement: ");
        printonline(elided(TraceBackCurrstat));
        mendline();
        if (TraceBackLocals != 0 && !IMMINT(TraceBackLocals) && LENGTH2(TraceBackLocals) > 1) {
            prpart("        locals defined as: ");
            WORD n = LENGTH2(TraceBackLocals);
            for (WORD i = 1; i < n; i++) {
                ALGEB loc = A(TraceBackLocals[i]);
                ALGEB val = loc;
                if (is(loc, NAME) && loc[1] != 0) val = A(loc[1]);
                if (i > 1) prpart(", ");
                printonline(New3(EQUATION, loc, val));
            }
            mendline();
        }
        procprint = saved;
    }
    if (plev > 1) {
        int levels = plev == 2 ? (ErrorLevel > 0 ? 1 : 0) : ErrorLevel;
        if (levels > MAXTRACEBACK) levels = MAXTRACEBACK;
        for (int i = 0; i < levels; i++) {
            prpart("        ");
            printonline(TraceBackFunctname[i]);
            prpart(" called with arguments: ");
            printonline(TraceBackArgs[i]);
            mendline();
        }
    }
    CloseAllInput();
    if (optserver || opterrorexit) errorexit();
}

// Reads and executes statements until an unwinding reaches the main loop.
static void readloop() {
    for (;;) {
        parsestat = ReadStatement();
        if (is(parsestat, CONTROL) && Eq(A(parsestat[1]), 1)) {
            closeinput();
            continue;
        }
        evalstat(parsestat, 0);
    }
}

static void mainloop() {
    Environment = &IniEnv;
    IniEnv.jump = 1;
    for (;;) {
        int code;
        try {
            readloop();
        } catch (const Unwind &u) {
            code = u.code;
        }
        Environment = &IniEnv;
        IniEnv.evlstlev = 1;
        if (code == Main) {
            InterruptNow = 0;
            CloseAllInput();
            continue;
        }
        if (code < Main || code > Error) normalexit();
        if (code == Return || code == Break) {
            ErrorLevel = 0; // no activation recorded a traceback for these
            ININlasterror[1] = W(
                naminstall(code == Return ? "return out of context" : "break or next not in loop"));
        }
        try {
            reporterror();
        } catch (const Unwind &) {
            // The report itself failed (a print method in error, an interrupt): what was
            // written stands, and reading goes on.
            Environment = &IniEnv;
            IniEnv.evlstlev = 1;
            mendline();
            CloseAllInput();
            if (optserver || opterrorexit) errorexit();
        }
    }
}

struct StartArgs {
    int argc;
    char **argv;
};

static void *interpreter(void *p) {
    StartArgs *args = (StartArgs *)p;
    char bottom;
    StackBottom = (char *)__builtin_frame_address(0);
    StackSign = stackdirection(&bottom);
    StackSafety = STACKMARGIN * StackSign;
    WORD room = StackSize - STACKMARGIN;
    StackLow = StackSign < 0 ? StackBottom - room : StackBottom;
    StackHigh = StackSign < 0 ? StackBottom : StackBottom + room;
    setfpmode();
    LumbraInit(args->argc, args->argv);
    mainloop();
    return 0;
}

int lumbra_main(int argc, char **argv) {
    struct rlimit rl;
    if (getrlimit(RLIMIT_STACK, &rl) != 0) notimpl("failed to run getrlimit and stack size");
    size_t size = INTERPSTACK;
    if (rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur > size) size = (size_t)rl.rlim_cur;
    StackSize = (WORD)size - STACKMARGIN;

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = niceexit;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, 0);
    signal(SIGPIPE, SIG_IGN);

    // The interpreter thread takes the interrupts, and the signals the line editor answers
    // while it waits for a key; this one only waits for it.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size);
    StartArgs args = {argc, argv};
    pthread_t thread;
    if (pthread_create(&thread, &attr, interpreter, &args) != 0) {
        fprintf(stderr, "cannot start the interpreter\n");
        return 1;
    }
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTSTP);
    sigaddset(&block, SIGWINCH);
    pthread_sigmask(SIG_BLOCK, &block, 0);
    pthread_join(thread, 0);
    return 0;
}
