// The numbers of the native built-ins: one line a built-in, with the table that serves it.
#pragma once

// To add a built-in:
//   1. declare it in lib/lumbrait: `Name := proc(x:type, ...) option builtin; ... N end:`;
//   2. add its line below, in order of number: X(Name, N, table);
//   3. write its entry point in the built-ins file of its subsystem (for example
//      src/align/alignbuiltins.cpp): `ALGEB NameBuiltin(ALGEB fname, ALGEB t)` unpacks the
//      arguments t[1..n] and calls the native routine; builtins.h has the shared messages and
//      argument readers;
//   4. add one case to the switch of its table in src/eval/builtins.cpp (Typed and Own) or
//      src/eval/evald.cpp (Numeric):  case Builtin::Name: return NameBuiltin(fname, t);
// The name is the library's name of the procedure; a C++ keyword gets a trailing underscore.
// The unit tests check every declaration of lib/lumbrait against this list.
//
// Tables: Form, special forms that receive the unevaluated call (1..16); Own, routines that
// count and check their own evaluated arguments (50..87); Typed, routines whose arguments the
// dispatch counts and checks against the declared types (100..317; from 250 on, trailing
// arguments may be left out); Numeric, functions of procedures with option numeric, computed
// in doubles by the floating-point evaluator. Numeric numbers fill holes of the other tables
// and may reuse their numbers where a line says so.
// clang-format off
#define LUMBRA_BUILTINS(X) \
    X(assigned,           1,   Form)    \
    X(traperror,          2,   Form)    \
    X(eval,               3,   Form)    \
    X(iff,                4,   Form)    \
    X(time,               5,   Form)    \
    X(noeval,             6,   Form)    \
    X(evalb,              7,   Form)    \
    X(return_,            8,   Form)    \
    X(ReadLibrary,        9,   Form)    \
    X(zip,                10,  Form)    \
    X(sum,                11,  Form)    \
    X(walltime,           12,  Form)    \
    X(seq,                13,  Form)    \
    X(remember,           14,  Form)    \
    X(assert,             15,  Form)    \
    X(product,            16,  Form)    \
    X(printf,             50,  Own)     \
    X(error,              51,  Own)     \
    X(iterate,            52,  Own)     \
    X(lprint,             53,  Own)     \
    X(Match,              55,  Own)     \
    X(max,                56,  Numeric) \
    X(min,                57,  Numeric) \
    X(CreateArray,        58,  Own)     \
    X(sort,               61,  Own)     \
    X(op,                 63,  Own)     \
    X(CodonToInt,         66,  Own)     \
    X(sprintf,            69,  Own)     \
    X(append,             71,  Own)     \
    X(type,               83,  Own)     \
    X(DynProgStrings,     85,  Own)     \
    X(arctan,             84,  Numeric) \
    X(union_,             86,  Own)     \
    X(intersect,          87,  Own)     \
    X(Normal_Rand,        88,  Numeric) \
    X(AToInt,             100, Typed)   \
    X(IntToA,             101, Typed)   \
    X(AAAToInt,           102, Typed)   \
    X(IntToAAA,           103, Typed)   \
    X(AminoToInt,         104, Typed)   \
    X(IntToAmino,         105, Typed)   \
    X(OpenPipe,           106, Typed)   \
    X(abs,                107, Numeric) \
    X(mod,                108, Numeric) \
    X(sqrt,               109, Numeric) \
    X(exp,                110, Typed)   \
    X(ln,                 111, Typed)   \
    X(length,             112, Typed)   \
    X(GetTextOffset,      113, Typed)   \
    X(round,              114, Numeric) \
    X(sin,                115, Numeric) \
    X(cos,                116, Numeric) \
    X(tan,                117, Numeric) \
    X(arcsin,             118, Numeric) \
    X(SetRand,            120, Typed)   \
    X(OpenAppending,      121, Typed)   \
    X(OpenWriting,        122, Typed)   \
    X(GaussElim,          123, Typed)   \
    X(SearchArray,        124, Typed)   \
    X(StrictEqual,        125, Typed)   \
    X(CallSystem,         126, Typed)   \
    X(ReadRawFile,        127, Typed)   \
    X(Set,                128, Typed)   \
    X(parse,              129, Typed)   \
    X(gc,                 130, Typed)   \
    X(member,             131, Typed)   \
    X(ceil,               132, Numeric) \
    X(erf,                133, Numeric) \
    X(erfc,               134, Numeric) \
    X(floor,              135, Numeric) \
    X(trunc,              136, Numeric) \
    X(sscanf,             137, Typed)   \
    X(matrix_inverse,     138, Typed)   \
    X(transpose,          139, Typed)   \
    X(Cholesky,           140, Typed)   \
    X(erfcinv,            141, Numeric) \
    X(scalb,              142, Numeric) \
    X(ilogb,              143, Numeric) \
    X(factorial,          144, Numeric) \
    X(LnGamma,            145, Numeric) \
    X(Gamma,              146, Numeric) \
    X(size,               147, Typed)   \
    X(version,            148, Typed)   \
    X(ObjectHash,         149, Typed)   \
    X(StringHash,         150, Typed)   \
    X(ReadDb,             151, Typed)   \
    X(CreateOrigDayMatrixCounts, 152, Typed) \
    X(has,                153, Typed)   \
    X(sha512,             154, Typed)   \
    /* Rand reuses the number of sha512. */ \
    X(Rand,               154, Numeric) \
    X(IntToAscii,         155, Typed)   \
    X(CaseSearchString,   156, Typed)   \
    X(AsciiToInt,         157, Typed)   \
    X(GetMostFrequentGrams, 160, Typed) \
    X(SearchDayMatrix,    164, Typed)   \
    X(CreateOrigDayMatrixRates, 165, Typed)  \
    X(SearchString,       166, Typed)   \
    X(ProfileEnter,       167, Typed)   \
    X(ProfileExit,        168, Typed)   \
    X(BToInt,             170, Typed)   \
    X(IntToB,             171, Typed)   \
    X(BBBToInt,           172, Typed)   \
    X(IntToBBB,           173, Typed)   \
    X(BaseToInt,          174, Typed)   \
    X(IntToBase,          175, Typed)   \
    X(SearchSeqDb,        176, Typed)   \
    X(date,               180, Typed)   \
    X(hostname,           181, Typed)   \
    X(ApproxSearchStringIndels, 183, Typed) \
    X(SearchOrderedArray, 187, Typed)   \
    X(getpid,             188, Typed)   \
    X(sleep,              189, Typed)   \
    X(SearchTag,          190, Typed)   \
    X(ReadProgram,        194, Typed)   \
    X(OpenReading,        195, Typed)   \
    X(ReadOffsetLine,     196, Typed)   \
    X(ApproxSearchString, 197, Typed)   \
    X(getenv,             198, Typed)   \
    X(minus,              201, Typed)   \
    X(subset,             203, Typed)   \
    X(InputPosition,      207, Typed)   \
    X(ConnectTcp,         208, Typed)   \
    X(SendTcp,            209, Typed)   \
    X(ReceiveTcp,         210, Typed)   \
    X(DisconnectTcp,      211, Typed)   \
    X(EstimatePam,        215, Typed)   \
    X(antiparallel,       225, Typed)   \
    X(lowercase,          228, Typed)   \
    X(uppercase,          229, Typed)   \
    X(assemble,           230, Typed)   \
    X(disassemble,        231, Typed)   \
    X(symbol,             232, Typed)   \
    X(warning,            233, Typed)   \
    X(setenv,             234, Typed)   \
    X(compress,           243, Typed)   \
    X(decompress,         244, Typed)   \
    X(ServerSocket,       246, Typed)   \
    X(exit,               247, Typed)   \
    X(MatchRegex,         248, Typed)   \
    X(Eigenvalues,        252, Typed)   \
    X(ComputeCubicTSP,    253, Typed)   \
    X(ComputeQuarticTSP,  254, Typed)   \
    X(DynProgScore,       260, Typed)   \
    X(DynProgBoth,        269, Typed)   \
    X(FindLongestRep,     300, Typed)   \
    X(Blanks,             301, Typed)   \
    X(names,              302, Typed)   \
    X(ReadStatement,      303, Typed)   \
    X(RawFileStat,        304, Typed)   \
    X(TimedCallSystem,    307, Typed)   \
    X(LockFile,           308, Typed)   \
    X(GetOffset,          309, Typed)   \
    X(GetEntryNumber,     311, Typed)   \
    /* 312 and 313 are holes of the numbered tables, taken by the database's own built-ins. */ \
    X(SeqFileToDb,        312, Typed)   \
    X(DbPart,             313, Typed)   \
    X(AlignOneAll,        314, Typed)   \
    X(StartDebugger,      315, Typed)   \
    X(ReadRawLine,        316, Typed)   \
    X(copy,               317, Typed)
// clang-format on

enum class BuiltinTable { Form, Own, Typed, Numeric };

// The numbers each table may use.
constexpr int FORM_FIRST = 1, FORM_LAST = 16;
constexpr int OWN_FIRST = 50, OWN_LAST = 87;
constexpr int TYPED_FIRST = 100, TYPED_LAST = 317;
// Typed built-ins from this number on may be called with fewer arguments than declared.
constexpr int TYPED_OPTIONAL_FIRST = 250;
// Numeric built-ins lie below this; from TYPED_FIRST on they take as many arguments as declared.
constexpr int NUMERIC_END = 200;

enum class Builtin : int {
#define LUMBRA_BUILTIN_ENUM(name, number, table) name = number,
    LUMBRA_BUILTINS(LUMBRA_BUILTIN_ENUM)
#undef LUMBRA_BUILTIN_ENUM
};

struct BuiltinEntry {
    const char *name;
    int number;
    BuiltinTable table;
};

constexpr BuiltinEntry builtinlist[] = {
#define LUMBRA_BUILTIN_ENTRY(name, number, table) {#name, number, BuiltinTable::table},
    LUMBRA_BUILTINS(LUMBRA_BUILTIN_ENTRY)
#undef LUMBRA_BUILTIN_ENTRY
};

constexpr bool builtin_in_table(const BuiltinEntry &e) {
    switch (e.table) {
    case BuiltinTable::Form: return e.number >= FORM_FIRST && e.number <= FORM_LAST;
    case BuiltinTable::Own: return e.number >= OWN_FIRST && e.number <= OWN_LAST;
    case BuiltinTable::Typed: return e.number >= TYPED_FIRST && e.number <= TYPED_LAST;
    case BuiltinTable::Numeric: return e.number >= 1 && e.number < NUMERIC_END;
    }
    return false;
}

// Every number lies in its table's range and serves once: Numeric numbers among themselves,
// all others among all others.
constexpr bool builtin_numbers_wellformed() {
    for (const BuiltinEntry &e : builtinlist) {
        if (!builtin_in_table(e)) return false;
        for (const BuiltinEntry &f : builtinlist)
            if (&e != &f && e.number == f.number &&
                (e.table == BuiltinTable::Numeric) == (f.table == BuiltinTable::Numeric))
                return false;
    }
    return true;
}
static_assert(builtin_numbers_wellformed(),
              "a built-in number outside its table or used twice in one dispatch");

inline bool isspecialform(int b) { return b >= FORM_FIRST && b <= FORM_LAST; }
