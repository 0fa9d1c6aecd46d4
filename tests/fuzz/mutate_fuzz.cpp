// Runs lumbra on mutants of the transcripts under tests/ (truncated, spliced, bytes flipped,
// hostile tokens inserted; a fixed seed makes a run reproducible): each must end without a
// crash, a sanitizer report or a hang.
//
//   mutate_fuzz LUMBRA TESTSDIR LIBDIR [--inputs N (default 200)] [--seconds S] [--seed K]
//               [--timeout T] [--grace G] [--memory MB] [--keep DIR] [--replay 1]
//
// A run still going after T seconds of processor time is interrupted twice, as a user would;
// one that has not ended G seconds later hangs. A sanitized lumbra reserves more address space
// than a limit would allow: LUMBRA_FUZZ_SANITIZED limits its memory through the sanitizer
// instead. --replay 1 runs each transcript once as it is (kept findings are checked so).
// Findings go to DIR (default .) as crash-*.lum, sanitizer-*.lum and hang-*.lum; the exit
// status is 1 when there are any.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void die(const std::string &why) {
    fprintf(stderr, "mutate_fuzz: %s\n", why.c_str());
    exit(2);
}

struct Options {
    std::string lumbra, tests, lib, keep = ".";
    long inputs = -1;
    double seconds = -1;
    unsigned long seed = 1;
    double timeout = 5; // seconds before a run is interrupted
    double grace = 30;  // seconds an interrupted run has to end: unwinding a deep recursion is slow
    long memory = 4000; // megabytes a run may take
    bool replay = false; // run the transcripts themselves, as kept findings are
};

// Seeds that run shell commands or sleep are left out: a mutant of them could run something
// other than what the transcript meant, or wait.
bool usable(const std::string &text) {
    for (const char *w : {"CallSystem", "TimedCallSystem", "OpenPipe", "sleep"})
        if (text.find(w) != std::string::npos) return false;
    return true;
}

std::string readfile(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> loadseeds(const std::string &dir) {
    std::vector<fs::path> paths;
    for (auto &e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() == ".lum") paths.push_back(e.path());
    std::sort(paths.begin(), paths.end()); // the order of a directory is not reproducible
    std::vector<std::string> seeds;
    for (auto &p : paths)
        if (std::string t = readfile(p); usable(t)) seeds.push_back(t);
    return seeds;
}

// The procedures declared with option builtin: their names, followed by an opening parenthesis,
// are hostile tokens too. Those that would leave or wait are not.
std::vector<std::string> builtinnames(const std::string &lib) {
    std::vector<std::string> names;
    std::istringstream in(readfile(fs::path(lib) / "lumbrait"));
    for (std::string line; std::getline(in, line);) {
        size_t p = line.find(" := proc(");
        if (p == std::string::npos || line.find("option builtin") == std::string::npos) continue;
        std::string name = line.substr(0, p);
        if (!usable(name) || name == "exit" || name == "StartDebugger") continue;
        names.push_back(name + "(");
    }
    return names;
}

// clang-format off
const char *const Hostile[] = {
    "s := s + 1: s + 1;", "L := [1, 2]: L[1] := L: L;", "x := 2*x: evalb(x = 1);", "t := t + e",
    "2^1000000", "1e308*10", "-0.0", "10^400", "[[[[[[[[[[[[1]]]]]]]]]]]]", "table()", "NULL",
    "args", "nargs", "procname", "assemble(", "disassemble(", "op(", "copy(", "evalb(", "noeval(",
    "remember(", "traperror(", "(", ")", "[", "]", "{", "}", ",", ";", ":", ":=", "''", "'", "\"",
    "\"\"\"", "proc(", "proc() ", " end", " od", " fi", "do ", "if ", "then ", "for i to ",
    "while true do ", "-1", "0", "1/0", "0^(-1)", "2147483648", "1073741824", "-1073741825",
    "4294967296", "1e-320", "9.9e307", "'\\377'", "..", ".", "$", "#", "\\", "?", "!", "|", "->",
    "x -> x", "a[1][2][3]", "T[T]", "intersect()", "minus", "union", "{1, {1}}", "[1, [2, [3]]]",
    "f(f(f(f(f()))))", "op(0, ", "seq(i, i = 1..", "sum(", "zip(",
    "printf('%a %d %s %c %f %g %.400f', ", "sprintf('%", "sscanf('", "Local(", "Param(",
    "procedure(", "structure(", "expseq(", "ForLoop(", "IfStat(", "StatSeq(", "Assign(", "Match(",
    "select(", "catenate(",
};
// clang-format on

// Bytes that a flip may put in place of another: the ones the grammar turns on.
const char Punctuation[] = "()[]{},;:=.'\"0123456789-+*/^<>#\\ \n";

struct Rng {
    std::mt19937_64 g;
    explicit Rng(unsigned long s) : g(s) {}
    size_t below(size_t n) { return n == 0 ? 0 : (size_t)(g() % n); }
};

std::string mutate(Rng &r, const std::vector<std::string> &seeds,
                   const std::vector<std::string> &tokens) {
    std::string s = seeds[r.below(seeds.size())];
    int rounds = 1 + (int)r.below(4);
    for (int k = 0; k < rounds; k++) {
        size_t at = r.below(s.size() + 1);
        switch (r.below(6)) {
        case 0: s.resize(at); break; // truncate
        case 1: {                    // splice: the head of this, the tail of another
            const std::string &o = seeds[r.below(seeds.size())];
            s = s.substr(0, at) + o.substr(r.below(o.size() + 1));
            break;
        }
        case 2: // flip bytes
            for (size_t n = 1 + r.below(8); n > 0 && !s.empty(); n--) {
                size_t i = r.below(s.size());
                s[i] = r.below(2) ? (char)(s[i] ^ (1 << r.below(8)))
                                  : Punctuation[r.below(sizeof Punctuation - 1)];
            }
            break;
        case 3: { // insert a hostile token
            size_t n = sizeof Hostile / sizeof Hostile[0];
            size_t i = r.below(n + tokens.size());
            s.insert(at, i < n ? Hostile[i] : tokens[i - n]);
            break;
        }
        case 4: // delete a stretch
            s.erase(at, r.below(64));
            break;
        case 5: { // repeat a stretch
            std::string piece = s.substr(at, r.below(200));
            for (size_t n = 1 + r.below(3); n > 0; n--)
                s.insert(at, piece);
            break;
        }
        }
    }
    return s;
}

void emptydir(const fs::path &d) {
    std::error_code ec;
    for (auto &e : fs::directory_iterator(d, ec)) {
        fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(e.path(), ec);
    }
}

// Processor seconds a process has used, from /proc: on a busy machine the wall clock says
// little about how much work a run has done.
double cpuseconds(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(f, line);
    size_t p = line.rfind(')'); // the command name may hold blanks
    if (p == std::string::npos) return 0;
    std::istringstream rest(line.substr(p + 2));
    std::string field;
    for (int i = 3; i < 14; i++) // fields 14 and 15: user and system time
        rest >> field;
    unsigned long utime = 0, stime = 0;
    rest >> utime >> stime;
    return (double)(utime + stime) / (double)sysconf(_SC_CLK_TCK);
}

const char NOEXEC[] = "mutate_fuzz: cannot execute lumbra\n";

enum class Verdict { Ok, Interrupted, Crash, Sanitizer, Hang, NoExec };

// Set by an interrupt or a termination of the run itself: the input at hand is the last.
volatile sig_atomic_t Stop = 0;
void stop(int) { Stop = 1; }

struct Outcome {
    Verdict verdict;
    std::string detail;
};

void redirect(const char *path, int flags, int fd) { dup2(open(path, flags, 0666), fd); }

// Runs lumbra -q -B on the input in the scratch directory, as an unprivileged user when we
// are root, so that a mutant can write files nowhere else.
Outcome runone(const Options &o, const fs::path &scratch, const std::string &input) {
    fs::path in = scratch.parent_path() / "input.lum", err = scratch.parent_path() / "stderr";
    std::ofstream(in, std::ios::binary) << input;
    pid_t pid = fork();
    if (pid < 0) die(std::string("fork: ") + strerror(errno));
    if (pid == 0) {
        setsid();
        redirect(in.c_str(), O_RDONLY, 0);
        redirect("/dev/null", O_WRONLY, 1);
        redirect(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 2);
        if (chdir(scratch.c_str()) != 0) _exit(3);
        rlim_t secs = (rlim_t)(o.timeout + o.grace) + 10;
        rlimit cpu = {secs, secs};
        setrlimit(RLIMIT_CPU, &cpu);
        setenv("PATH", "/nonexistent-lumbra-fuzz", 1);
        setenv("HOME", scratch.c_str(), 1);
        // A run that takes all memory gets an error from the allocator instead of the machine's
        // memory; the sanitizers reserve address space, so for them the limit is on residence.
        std::string asan =
            "allocator_may_return_null=1:soft_rss_limit_mb=" + std::to_string(o.memory);
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
        if (getenv("LUMBRA_FUZZ_SANITIZED") == nullptr) {
            rlimit as = {(rlim_t)o.memory << 20, (rlim_t)o.memory << 20};
            setrlimit(RLIMIT_AS, &as);
        }
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        execl(o.lumbra.c_str(), o.lumbra.c_str(), "-q", "-l", o.lib.c_str(), (char *)0);
        fputs(NOEXEC, stderr);
        _exit(127);
    }
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    bool interrupted = false;
    for (;;) {
        pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid) break;
        double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Work is measured in processor time; a run that waits is measured by the clock, with
        // room to spare.
        double t = std::max(cpuseconds(pid), wall / 10);
        if (!interrupted && t > o.timeout) {
            // A long computation is no fault as long as it answers an interrupt: the first one
            // asks for the debugger, the second sets the flag that long work polls.
            kill(pid, SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            kill(pid, SIGINT);
            interrupted = true;
        } else if (t > o.timeout + o.grace) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return {Verdict::Hang, "does not answer an interrupt"};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::string e = readfile(err);
    for (const char *mark : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer"}) {
        size_t p = e.find(mark);
        if (p != std::string::npos) {
            size_t end = e.find('\n', p);
            return {Verdict::Sanitizer, e.substr(p, end == std::string::npos ? 200 : end - p)};
        }
    }
    if (WIFSIGNALED(status)) {
        if (WTERMSIG(status) == SIGXCPU) return {Verdict::Hang, "processor time exhausted"};
        return {Verdict::Crash, std::string("killed by ") + strsignal(WTERMSIG(status))};
    }
    if (e.find(NOEXEC) != std::string::npos) return {Verdict::NoExec, ""};
    return {interrupted ? Verdict::Interrupted : Verdict::Ok, ""};
}

const char *kindname(Verdict v) {
    return v == Verdict::Crash ? "crash" : v == Verdict::Sanitizer ? "sanitizer" : "hang";
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) die("usage: mutate_fuzz LUMBRA TESTSDIR LIBDIR [--OPTION VALUE]...");
    Options o;
    o.lumbra = fs::absolute(argv[1]);
    o.tests = argv[2];
    o.lib = fs::absolute(argv[3]);
    const std::map<std::string, std::function<void(const std::string &)>> set = {
        {"--inputs", [&](const std::string &v) { o.inputs = std::stol(v); }},
        {"--seconds", [&](const std::string &v) { o.seconds = std::stod(v); }},
        {"--seed", [&](const std::string &v) { o.seed = std::stoul(v); }},
        {"--timeout", [&](const std::string &v) { o.timeout = std::stod(v); }},
        {"--grace", [&](const std::string &v) { o.grace = std::stod(v); }},
        {"--memory", [&](const std::string &v) { o.memory = std::stol(v); }},
        {"--keep", [&](const std::string &v) { o.keep = v; }},
        {"--replay", [&](const std::string &v) { o.replay = v == "1"; }},
    };
    for (int i = 4; i + 1 < argc; i += 2) {
        auto it = set.find(argv[i]);
        if (it == set.end()) die(std::string("unknown option ") + argv[i]);
        it->second(argv[i + 1]);
    }
    if (o.inputs < 0 && o.seconds < 0) o.inputs = 200;
    std::vector<std::string> seeds = loadseeds(o.tests);
    std::vector<std::string> tokens = builtinnames(o.lib);
    if (seeds.empty()) die("no transcripts under " + o.tests);

    char tmpl[] = "/tmp/lumbra-fuzz-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) die(std::string("mkdtemp: ") + strerror(errno));
    fs::path base = tmpl, scratch = base / "work";
    fs::create_directory(scratch);
    chmod(base.c_str(), 0755);
    chmod(scratch.c_str(), 01777);

    signal(SIGINT, stop);
    signal(SIGTERM, stop);
    Rng rng(o.seed);
    auto start = std::chrono::steady_clock::now();
    long tried = 0, found = 0, interrupted = 0;
    for (;;) {
        double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (o.inputs >= 0 && tried >= o.inputs) break;
        if ((o.seconds >= 0 && t >= o.seconds) || Stop) break;
        if (o.replay && tried >= (long)seeds.size()) break;
        std::string input = o.replay ? seeds[tried] : mutate(rng, seeds, tokens);
        emptydir(scratch);
        Outcome r = runone(o, scratch, input);
        if (r.verdict == Verdict::NoExec) {
            fprintf(stderr, "cannot run %s\n", o.lumbra.c_str());
            found = -1;
            break;
        }
        tried++;
        if (r.verdict == Verdict::Interrupted) interrupted++;
        if (r.verdict == Verdict::Ok || r.verdict == Verdict::Interrupted) continue;
        found++;
        std::string name = std::string(kindname(r.verdict)) + "-" + std::to_string(o.seed) + "-" +
                           std::to_string(tried) + ".lum";
        std::ofstream(fs::path(o.keep) / name, std::ios::binary) << input;
        printf("%s: input %ld (%s), kept as %s\n", kindname(r.verdict), tried, r.detail.c_str(),
               name.c_str());
        fflush(stdout);
    }
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%ld inputs in %.0f seconds, seed %lu: %ld interrupted, %ld findings\n", tried, t,
           o.seed, interrupted, found);
    std::error_code ec;
    emptydir(scratch);
    fs::remove_all(base, ec);
    return found == 0 ? 0 : found < 0 ? 2 : 1;
}
