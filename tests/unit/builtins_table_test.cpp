// Every built-in of the list, as lumbrait declares it, called with argument shapes of every
// kind: each call must end in a result or an error.
#include <unistd.h>

#include "builtins.h"
#include "eval.h"
#include "evalstat.h"
#include "rand.h"
#include "testkit.h"

using namespace testkit;

namespace {

// Arguments as they would be typed: none, wrong kinds, wrong counts, empty and nested lists,
// huge numbers, tables and procedures.
const char *const Shapes[] = {
    "",
    "NULL",
    "0",
    "1",
    "-1",
    "2.5",
    "1e300",
    "-2^62",
    "2^31",
    "2^40",
    "'abc'",
    "''",
    "'%d%s%a%c%f%g%'",
    "x",
    "[]",
    "[1, 2, 3]",
    "[[1, 2], [3, 4]]",
    "[[[[[[1]]]]]]",
    "[1, 'a', b, [2]]",
    "{}",
    "{1, a, 'b'}",
    "table()",
    "proc(a) a end",
    "a = b",
    "1..3",
    "f(x)",
    "a < b",
    "assemble(Match(1, 2, 3, 4, 5, 6, 7))",
    "compress([1, 'a'])",
    "[assemble(Match(1, 2, 3, 4, 5, 6, 7))], 1",
    "1, 2",
    "'a', 'b'",
    "[1, 2], [3, 4]",
    "[[1, 2], [3, 4]], [5, 6]",
    "x, y",
    "[1], 1",
    "1, [1]",
    "'abc', 2",
    "'abc', -1",
    "table(), table()",
    "proc(a, b) true end, [2, 1]",
    "[2, 1], proc(a, b) true end",
    "1..2, 3..4",
    "1, 2, 3",
    "[], [], []",
    "'a', 2, [3], {4}",
    "1, 2, 3, 4, 5, 6, 7, 8",
};

// Built-ins that cannot simply be called: what they would do, and how they are called here.
enum class How { Skip, Server, Small };
struct Deliberate {
    const char *name;
    How how;
    const char *why;
};
const Deliberate Special[] = {
    {"exit", How::Skip, "ends the process"},
    {"sleep", How::Skip, "waits as many seconds as asked"},
    {"ServerSocket", How::Skip, "listens for connections for ever"},
    {"CallSystem", How::Server, "runs shell commands: called as a server, which refuses"},
    {"TimedCallSystem", How::Server, "runs shell commands: called as a server, which refuses"},
    {"OpenPipe", How::Server, "runs shell commands: called as a server, which refuses"},
    {"Blanks", How::Small, "fills as many bytes as asked: not called with 2^31"},
};

const Deliberate *special(const std::string &name) {
    for (const Deliberate &d : Special)
        if (name == d.name) return &d;
    return nullptr;
}

class EveryBuiltin : public QuietKernelTest {};

TEST_F(EveryBuiltin, EndsInAResultOrAnError) {
    ININlibname[1] = W(naminstall(LUMBRA_LIBDIR));
    // Read as at start-up: statement after statement.
    ASSERT_EQ(Ropen(LUMBRA_LIBDIR "/lumbrait", 0), 1);
    for (int unit = r_unit0; r_unit0 == unit;) {
        ALGEB s = ReadStatement();
        if (ID(s) == CONTROL) break;
        evalstat(s, 2);
    }
    CloseAllInput();
    msrand(1); // as at start-up: an unseeded generator gives only zeros

    // Files the built-ins write land in a directory of their own; no shell command is found.
    TempDir scratch;
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(scratch.dir.c_str()), 0);
    std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", "/nonexistent-lumbra-test", 1);
    UnitCapture out;

    int calls = 0, errors = 0;
    for (const BuiltinEntry &b : builtinlist) {
        std::string name = b.name;
        if (name.back() == '_') name.pop_back();
        ALGEB proc = A(naminstall(name.c_str())[1]);
        ASSERT_TRUE(proc != 0 && !IMMINT(proc) && ID2(proc) == PROC) << name << " is not declared";
        const Deliberate *d = special(name);
        if (d != nullptr && d->how == How::Skip) {
            printf("skipped %s (%d): %s\n", name.c_str(), b.number, d->why);
            continue;
        }
        for (const char *shape : Shapes) {
            if (d != nullptr && d->how == How::Small && strcmp(shape, "2^31") == 0) continue;
            std::string call = name + "(" + shape + ")";
            // Printed before the call, so that the output of a crashed run names it.
            printf("%s\n", call.c_str());
            fflush(stdout);
            optserver = d != nullptr && d->how == How::Server;
            // A statement to read for the built-ins that read the input.
            scratch.Open("1;\n");
            try {
                eval(Parse(call + ";"));
            } catch (const Unwind &) {
                errors++;
            }
            calls++;
            // Whatever the call changed of the session is put back.
            optserver = 0;
            DebugLevel = 0;
            CloseAllInput();
            while (w_unit0 > 0)
                OpenOutput("previous", 0);
            Environment = &IniEnv;
            IniEnv.evlstlev = 1;
            PrintToString = 0;
            for (const char *v : {"x", "y", "a", "b"})
                naminstall(v)[1] = 0;
        }
    }
    printf("%d calls, %d errors\n", calls, errors);
    setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(chdir(here), 0);
}

} // namespace
