// Process-wide settings: their defaults and the built-in `Set` that changes them.
#include "SetOption.h"

#include <algorithm>
#include <cstdio>
#include <pwd.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

#include "Lumbra.h"
#include "ServerSocket.h"
#include "miscfuncs.h"
#include "evalstat.h"
#include "sets.h"
#include "yylex.h"

UWORD mapsize = 12288;
int plotdevice = 0;
char plotoutput[PLOTOUTPUTLEN] = "temp.ps";
double SystemVariables[1] = {0};
int maxthreads = 0;
const char *const AspectModes[4] = {"landscape", "portrait", "landscapeA4", "portraitA4"};
const double xwidths[4] = {720, 540, 769.8897637795276, 523.2755905511812};
const double ywidths[4] = {540, 720, 523.2755905511812, 769.8897637795276};

// The whole text of a NAME or TEXT equals key (a TEXT is not NUL-terminated in general).
static bool sametext(ALGEB s, const char *key) {
    if (ID2(s) == NAME) return strcmp(NAMETEXT(s), key) == 0;
    size_t n = (size_t)STR(s)->length;
    return n == strlen(key) && memcmp(STR(s)->t, key, n) == 0;
}

static ALGEB boolobj(int flag) { return flag ? ININtrue : ININfalse; }

// An on/off setting: only true and false are accepted.
static ALGEB setflag(int *flag, ALGEB v, const char *msg) {
    int old = *flag;
    if (v == ININtrue)
        *flag = 1;
    else if (v == ININfalse)
        *flag = 0;
    else
        userror(msg);
    return boolobj(old);
}

// A file name given as a NAME or TEXT, NUL-terminated, at most size-1 characters.
static void filename(ALGEB v, char *buf, size_t size) {
    Chars c = textof(v);
    if (c.n > size - 1) userror("File name too long");
    memcpy(buf, c.s, c.n);
    buf[c.n] = 0;
}

static ALGEB setplotdevice(ALGEB v) {
    static const struct {
        const char *name;
        int code;
    } devices[] = {{"pslandscape", 0}, {"landscape", 0},   {"psportrait", 1},
                   {"portrait", 1},    {"landscapeA4", 2}, {"portraitA4", 3}};
    int old = plotdevice;
    if (textual(v))
        for (const auto &d : devices)
            if (sametext(v, d.name)) {
                plotdevice = d.code;
                return naminstall(AspectModes[old]);
            }
    userror2(v, "setting of plotdevice must be landscape or portrait...");
}

static ALGEB setplotoutput(ALGEB v) {
    if (optserver) userror("cannot redirect plot output as a server");
    ALGEB old = naminstall(plotoutput);
    char name[PLOTOUTPUTLEN], expanded[PLOTOUTPUTLEN];
    if (v == ININtrue) {
        strcpy(plotoutput, "temp.ps");
        return old;
    }
    filename(v, name, sizeof name);
    expandname(name, expanded, sizeof expanded);
    strcpy(plotoutput, expanded);
    return old;
}

// The level of the current activation; the name printlevel follows an explicit value.
static ALGEB setprintlevel(ALGEB v) {
    WORD old = ENVprintlevel;
    if (v == ININtrue) {
        ENVprintlevel = 1000000;
        return Newint(old);
    }
    if (!numeric(v)) userror("printlevel must be a word size integer");
    double d = DBL(v);
    if (!(std::fabs(d) <= 2147483647.0)) userror("printlevel must be a word size integer");
    assign(ININprintlevel, v, 0);
    ENVprintlevel = (WORD)std::trunc(d);
    return Newint(old);
}

static ALGEB setgc(ALGEB v) {
    double old = incrgc;
    if (v == ININtrue)
        incrgc = INCRGC;
    else if (IMMINT(v))
        incrgc = (double)IMMVAL(v);
    else
        userror("setting of gc must be an integer");
    incrgen = (INT)(3 * incrgc / ((MAXGEN - gcgen) * 2.0)) + 1;
    nextgcgen = cused - 1;
    nextgc += incrgc - old;
    return NewNumber(old);
}

int ScanThreads() {
    if (maxthreads > 0) return maxthreads;
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0)
        return CPU_COUNT(&cpus);
    return (int)std::max(1u, std::thread::hardware_concurrency());
}

// true goes back to every core; the answer is the count that was in force.
static ALGEB setthreads(ALGEB v) {
    const int old = ScanThreads();
    if (v == ININtrue)
        maxthreads = 0;
    else if (IMMINT(v) && IMMVAL(v) >= 1 && IMMVAL(v) <= 1024)
        maxthreads = (int)IMMVAL(v);
    else
        userror("setting of threads must be an integer from 1 to 1024");
    return Newint(old);
}

static ALGEB settotcells(ALGEB v) {
    double old = totcells;
    if (v != ININtrue) {
        if (!numeric(v) || !integer(v) || DBL(v) < 0)
            userror("TotalDPCells should be a non-negative integer");
        totcells = DBL(v);
    }
    return NewNumber(old);
}

ALGEB SetOption(ALGEB s) {
    ALGEB name, v;
    bool given;
    if (!IMMINT(s) && textual(s)) {
        name = s;
        v = ININtrue;
        given = false;
    } else if (is(s, EQUATION) && textual(A(s[1]))) {
        name = A(s[1]);
        v = A(s[2]);
        given = true;
    } else {
        userror("invalid arguments for set");
    }

    if (sametext(name, "batch")) return setflag(&optbatch, v, "setting of batch must be boolean");
    if (sametext(name, "echo")) {
        WORD old = echo;
        if (v == ININtrue)
            echo = 4;
        else if (IMMINT(v) && IMMVAL(v) >= 0)
            echo = (int)IMMVAL(v);
        else
            userror("setting of echo must be nonnegative number");
        return Newint(old);
    }
    if (sametext(name, "errorexit"))
        return setflag(&opterrorexit, v, "setting of errorexit must be boolean");
    if (sametext(name, "gc")) return setgc(v);
    if (sametext(name, "mapsize")) {
        UWORD old = mapsize;
        if (!IMMINT(v)) userror("setting of mapsize must be integer");
        mapsize = (UWORD)IMMVAL(v);
        return Newint((WORD)old);
    }
    if (sametext(name, "plotdevice")) return setplotdevice(v);
    if (sametext(name, "plotoutput")) return setplotoutput(v);
    if (sametext(name, "printgc"))
        return setflag(&printgcstatus, v, "setting of printgc must be boolean");
    if (sametext(name, "printlevel")) return setprintlevel(v);
    if (sametext(name, "profile"))
        return setflag(&printprofile, v, "setting of profile must be boolean");
    if (sametext(name, "prompt")) {
        ALGEB old = prompt;
        if (!textual(v)) userror("setting of prompt must be a string");
        prompt = v;
        return old;
    }
    if (sametext(name, "quiet")) return setflag(&optquiet, v, "setting of quiet must be boolean");
    if (sametext(name, "server")) {
        int old = optserver;
        if (v != ININtrue) userror("setting of server must be true");
        ServerMode();
        return boolobj(old);
    }
    if (sametext(name, "screenwidth")) {
        int old = scrnwidth;
        if (!IMMINT(v) || IMMVAL(v) < 1) userror("screenwidth should be a small positive integer");
        scrnwidth = (int)IMMVAL(v);
        return Newint(old);
    }
    if (sametext(name, "threads")) return setthreads(v);
    if (sametext(name, "TotalDPCells")) return settotcells(v);
    if (sametext(name, "BytesAlloc")) {
        if (given) userror("option BytesAlloc cannot be set, only queried");
        return NewNumber((double)totalmem * BYTES_PER_ALGEB);
    }
    userror("trying to set inexistent option");
}
