// The names every kernel component may reach directly, installed at start-up in this order.
#pragma once

// The kernel names. Entries 0..2 of ininame are the ditto names, spelled with one, two and
// three double quotes, which stand for the last three results and are reached through the
// environment; each name of the list below is reached as ININ and its spelling (ININtrue).
// clang-format off
#define LUMBRA_KERNEL_NAMES(X) \
    X(DB) X(NULL) X(NoDefault) X(NoIndexing) X(NormalizeOnAssign) X(NumberFormat) \
    X(ReadLibrary) X(abs) X(args) X(arrow) X(break) X(builtin) X(colon) X(factorial) X(false) \
    X(intersect) X(iterate) X(lasterror) X(libname) X(logPAM1) X(nargs) X(next) X(operator) \
    X(polymorphic) X(printlevel) X(procname) X(table) X(trace) X(true) X(unknown) X(zippable)
// The type names, reached the same way (ININinteger).
#define LUMBRA_TYPE_NAMES(X) \
    X(And) X(Assign) X(DayMatrix) X(ForLoop) X(IfStat) X(Local) X(Match) X(Not) X(Or) X(Param) \
    X(StatSeq) X(Stop) X(VectorDB) X(anything) X(array) X(boolean) X(catenate) X(compressed) \
    X(constant) X(database) X(equal) X(expseq) X(float) X(integer) X(less) X(lessequal) \
    X(list) X(matrix) X(name) X(negative) X(numeric) X(plus) X(posint) X(positive) X(power) \
    X(procedure) X(range) X(relation) X(select) X(set) X(string) X(structure) X(symbol) \
    X(times) X(unequal)
// clang-format on

#define LUMBRA_NAME_INDEX(n) ININindex_##n,
#define LUMBRA_NAME_TEXT(n) #n,
enum : int {
    ININindex_ditto1,
    ININindex_ditto2,
    ININindex_ditto3,
    LUMBRA_KERNEL_NAMES(LUMBRA_NAME_INDEX) MAXININnames
};
enum : int { LUMBRA_TYPE_NAMES(LUMBRA_NAME_INDEX) TYNAMESIZE };

extern WORD *ininame[MAXININnames];
extern WORD *tyname[TYNAMESIZE];

constexpr const char *ininame_text[MAXININnames] = {"\"", "\"\"", "\"\"\"",
                                                    LUMBRA_KERNEL_NAMES(LUMBRA_NAME_TEXT)};
constexpr const char *tyname_text[TYNAMESIZE] = {LUMBRA_TYPE_NAMES(LUMBRA_NAME_TEXT)};

#define LUMBRA_KERNEL_NAME(n) inline constexpr ALGEB &ININ##n = ininame[ININindex_##n];
#define LUMBRA_TYPE_NAME(n) inline constexpr ALGEB &ININ##n = tyname[ININindex_##n];
LUMBRA_KERNEL_NAMES(LUMBRA_KERNEL_NAME)
LUMBRA_TYPE_NAMES(LUMBRA_TYPE_NAME)
#undef LUMBRA_KERNEL_NAME
#undef LUMBRA_TYPE_NAME
#undef LUMBRA_NAME_INDEX
#undef LUMBRA_NAME_TEXT
