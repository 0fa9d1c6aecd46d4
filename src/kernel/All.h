// The object model: handles, headers, type codes, object layouts, predicates and limits.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

// A heap word. Every object is a block of words whose word 0 is a header.
typedef int64_t WORD;
typedef uint64_t UWORD;
// A handle: an immediate integer when the low bit is 1, else the address of word 0.
typedef WORD *ALGEB;
typedef int32_t INT;
typedef uint32_t UINT;

constexpr int TOTBITS = 64;
constexpr int BYTES_PER_ALGEB = 8;

// Conversions between words, handles and integers.
#define A(x) ((ALGEB)(WORD)(x))
#define W(x) ((WORD)(x))

// ---------------------------------------------------------------------------
// The header: length in bits 0..17, type in 18..23, generation in 24..31.
// The upper 32 bits of a header word are always zero.

constexpr int BITSLEN = 18;
constexpr WORD MASKLEN = (1 << BITSLEN) - 1;
constexpr WORD COMPLEN = ~MASKLEN;
constexpr int ShiftID = 18;
constexpr WORD MASKID = (WORD)63 << ShiftID;
constexpr int ShiftGC = 24;
constexpr int NGEN = 256;
constexpr WORD MASKGC = (WORD)255 << ShiftGC;
constexpr WORD COMPLGC = ((WORD)1 << ShiftGC) - 1;
constexpr WORD MAXOBJLEN = MASKLEN; // the longest object, in words

// Type codes: NAME_CASE is the number, NAME the number shifted into the header.
// clang-format off
#define LUMBRA_TYPES(X) \
    X(NUMBER,      4) \
    X(NAME,        5) \
    X(TABLEREF,    6) \
    X(CATENATE,    7) \
    X(POWER,       8) \
    X(PROD,        9) \
    X(SUM,         11) \
    X(FUNCTION,    12) \
    X(COLON,       13) \
    X(EQUATION,    14) \
    X(INEQUAT,     15) \
    X(LESSEQ,      16) \
    X(LESSTHAN,    17) \
    X(AND,         18) \
    X(NOT,         19) \
    X(OR,          20) \
    X(EXPSEQ,      21) \
    X(LIST,        22) \
    X(LOCAL,       23) \
    X(PARAM,       24) \
    X(PROC,        25) \
    X(RANGE,       26) \
    X(LISTNUM,     27) \
    X(SET,         28) \
    X(ASSIGN,      29) \
    X(FOR,         30) \
    X(IF,          31) \
    X(STATSEQ,     34) \
    X(STOP,        35) \
    X(HASH,        36) \
    X(HASHTAB,     37) \
    X(GARBAGE,     38) \
    X(CONTROL,     39) \
    X(SYSTEM,      40) \
    X(TEXT,        41) \
    X(DNAFILE,     43) \
    X(DAYMATRIX,   44) \
    X(MATCH,       45) \
    X(COMPRESSED,  46) \
    X(UNSPECIFIED, 47) \
    X(GARBAGE4K,   48)
// clang-format on
#define LUMBRA_TYPE_CASE(name, code) name##_CASE = code,
#define LUMBRA_TYPE_ID(name, code) name = name##_CASE << ShiftID,
enum : WORD { LUMBRA_TYPES(LUMBRA_TYPE_CASE) };
enum : WORD { LUMBRA_TYPES(LUMBRA_TYPE_ID) };
#undef LUMBRA_TYPE_CASE
#undef LUMBRA_TYPE_ID

// Lowest and highest type codes a heap header may carry.
constexpr WORD FIRST_CASE = NUMBER_CASE;
constexpr WORD LAST_CASE = UNSPECIFIED_CASE;

// The words of a PROC: parameters, locals, options, description, declared result type (the
// empty EXPSEQ when none), body and, when the length exceeds 7, the optional parameters.
enum : int {
    PROC_PARAMS = 1,
    PROC_LOCALS = 2,
    PROC_OPTIONS = 3,
    PROC_DESCRIPTION = 4,
    PROC_RESULT = 5,
    PROC_BODY = 6,
    PROC_OPTIONAL = 7,
};

// The handle 3, the immediate 1: lookups that found nothing.
#define NOTFOUND A(3)

// ---------------------------------------------------------------------------
// Records that overlay an object's block. The first field is always the header.

struct Lumbra {
    WORD id;
    WORD e[1];
};

struct Number {
    WORD id;
    double N;
};

// A TEXT: an inline text (length >= 4) keeps its characters from word 3 and a
// back-pointer in its last word; a view (length 3) points into other storage.
struct string {
    WORD id;
    WORD length;
    char *t;
};

struct Match {
    WORD id;
    double Sim;
    WORD Offset1;
    WORD Offset2;
    float PamNumber;
    float PamVariance;
    INT Length1;
    INT Length2;
};

constexpr int MAXMUTDIM = 130;
constexpr int MAXSEQLEN = 100010;
constexpr int DELCOSTARRAYSIZE = 1000;

struct DayMatrix {
    WORD id;
    ALGEB type;
    ALGEB Mapping;
    ALGEB logPAM1;
    ALGEB DelCost;
    ALGEB DelCostArray;
    int16_t bits;
    int16_t dim;
    int16_t charmap[256];
    double PamNumber;
    double MaxSim;
    double FixedDel;
    double IncDel;
    double StopSimil;
    double Simi[];
};

constexpr int PAT_EMPTY = 123;

// The record of a DNAFILE. Its three storage blocks (text, entry offsets, Pat index) are TEXT
// objects of their own, held by handle so that the collector keeps them exactly as long as a
// record refers to them; src/db/LoadFile.h has the accessors.
struct database {
    WORD id;
    char FileName[160];
    char *string;
    UWORD TotChars;
    UWORD TotEntries;
    UWORD TotAA;
    ALGEB type;
    UWORD MaxEntries;
    UINT *EntryOffset;    // the 32-bit layout: TotEntries + 1 offsets, the last TotChars
    UWORD *EntryOffset64; // the 64-bit layout, in use when EntryOffset is null
    char PatSwap;         // 0 native, 1 swapped, PAT_EMPTY without an index
    UINT *PatCache;       // TotAA text offsets sorted by their suffixes
    UWORD *PatCache64;
    int CacheFP; // -1: the index file is closed once it is mapped
    ALGEB TextObj, EntryObj, PatObj;
};

// ---------------------------------------------------------------------------
// Inspection. None of these allocates.

inline bool IMMINT(ALGEB x) { return (W(x) & 1) != 0; }
inline WORD IMMVAL(ALGEB x) { return W(x) >> 1; }
inline ALGEB MKIMM(WORD v) { return A(2 * v + 1); }

inline WORD ID2(ALGEB x) { return x[0] & MASKID; }
inline WORD CASE_ID2(ALGEB x) { return (x[0] & MASKID) >> ShiftID; }
inline WORD LENGTH2(ALGEB x) { return x[0] & MASKLEN; }
inline WORD ID(ALGEB x) { return IMMINT(x) ? NUMBER : ID2(x); }
inline WORD CASE_ID(ALGEB x) { return IMMINT(x) ? NUMBER_CASE : CASE_ID2(x); }
inline WORD LENGTH(ALGEB x) { return IMMINT(x) ? 0 : LENGTH2(x); }
inline int GcTag(ALGEB x) { return IMMINT(x) ? 0 : (int)((x[0] >> ShiftGC) & 255); }

inline bool IDLENGTH(ALGEB x, WORD type, WORD len) {
    return !IMMINT(x) && (x[0] & (MASKID | MASKLEN)) == (type | len);
}
inline bool ISNULL(ALGEB x) { return IDLENGTH(x, EXPSEQ, 1); }
inline bool Eq(ALGEB x, WORD b) { return W(x) == 2 * b + 1; }

inline double NUMVAL(ALGEB x) { return ((Number *)x)->N; }
inline bool numeric(ALGEB x) { return IMMINT(x) || ID2(x) == NUMBER; }
bool integer(ALGEB x);
INT intvalue(ALGEB x);
inline bool consneg(ALGEB x) {
    return IMMINT(x) ? IMMVAL(x) < 0 : (ID2(x) == NUMBER && NUMVAL(x) < 0);
}
inline bool algebraic(ALGEB x) {
    WORD c = CASE_ID(x);
    return c >= NUMBER_CASE && c <= FUNCTION_CASE;
}
inline bool boolean(ALGEB x) {
    WORD c = CASE_ID(x);
    return c >= EQUATION_CASE && c <= OR_CASE;
}
inline bool relation(ALGEB x) {
    WORD c = CASE_ID(x);
    return c >= EQUATION_CASE && c <= LESSTHAN_CASE;
}
inline bool textual(ALGEB x) { return !IMMINT(x) && (ID2(x) == NAME || ID2(x) == TEXT); }

// Characters of a NAME (from byte 16) and of a TEXT.
inline char *NAMETEXT(ALGEB x) { return (char *)(x + 2); }
inline struct string *STR(ALGEB x) { return (struct string *)x; }

// A NAME with exactly the characters of s, or a TEXT whose characters begin s.
bool EqualText(ALGEB a, const char *s);

inline WORD LISTNUMLEN(ALGEB x) { return LENGTH2(x) - 1; }
inline double *LISTNUMDATA(ALGEB x) { return (double *)(x + 1); }

// Kinds; an immediate is none of them.
inline bool is(ALGEB x, WORD type) { return !IMMINT(x) && ID2(x) == type; }
// A NAME; a missing handle (0) is none either.
inline bool isname(ALGEB x) { return x != 0 && is(x, NAME); }
// A list, packed (LISTNUM) or not, and its number of elements.
inline bool isarray(ALGEB x) { return !IMMINT(x) && (ID2(x) == LIST || ID2(x) == LISTNUM); }
inline WORD arraylen(ALGEB x) { return ID2(x) == LISTNUM ? LISTNUMLEN(x) : LENGTH2(A(x[1])) - 1; }

// Words needed for n items of type T.
#define NrALGEBs(n, T) ((W(n) * (WORD)sizeof(T) + BYTES_PER_ALGEB - 1) / BYTES_PER_ALGEB)

inline void StoreLEN(ALGEB x, WORD y);

// Number constructors and conversion.
ALGEB Newint(WORD x);            // immediate when in range, else a NUMBER
ALGEB NewNumberObject(double d); // a NUMBER; refuses NaN and infinity
// Immediate for small integral values, told inline: an integral value within the range
// survives the trip through an integer.
inline ALGEB NewNumber(double d) {
    if (d >= -1073741824.0 && d <= 1073741823.0) {
        WORD k = (WORD)d;
        if ((double)k == d) return MKIMM(k);
    }
    return NewNumberObject(d);
}
double DBL(ALGEB x); // the number of a numeric object
extern const char UnableToRepresent[];

// ---------------------------------------------------------------------------
// Doubles carrying handles: upper 16 bits 0x7FF8, the handle in the low 48.

constexpr uint64_t NaNTOP = 0x7FF8000000000000ULL;
constexpr uint64_t NaNMASK = 0xFFFF000000000000ULL;
constexpr uint64_t NaNPAYLOAD = 0x0000FFFFFFFFFFFFULL;
constexpr int64_t NaNerrorCons = (int64_t)(NaNTOP | 1);

inline uint64_t DoubleBits(double d) {
    uint64_t u;
    memcpy(&u, &d, sizeof u);
    return u;
}
inline double BitsDouble(uint64_t u) {
    double d;
    memcpy(&d, &u, sizeof d);
    return d;
}
inline double MakeNaN(ALGEB a) { return BitsDouble(NaNTOP | ((uint64_t)W(a) & NaNPAYLOAD)); }
inline bool NaN(double d) { return (DoubleBits(d) & NaNMASK) == NaNTOP; }
// The handle is sign-extended from 48 bits, so negative immediates survive the trip.
inline ALGEB NaNtoALGEB(double d) { return A(((int64_t)(DoubleBits(d) << 16)) >> 16); }
inline bool isNaNerror(double d) { return (int64_t)DoubleBits(d) == NaNerrorCons; }
extern double NaNerror;

// ---------------------------------------------------------------------------
// Limits shared by several components.

constexpr int MAX_NAME_LENGTH = 500;
constexpr int LumbraStackSize = 10;
constexpr WORD MINUSINF = -999999999;

// ---------------------------------------------------------------------------
// Fixed objects, made at start-up and never freed.

extern ALGEB null, ModuleNull, EmptyList, EmptySet, cons0, cons1, consm1;

// A module: a PROC whose parameters word is ModuleNull, run as soon as it is evaluated.
inline bool ismodule(ALGEB p) { return A(p[PROC_PARAMS]) == ModuleNull; }
extern ALGEB OneChar[256];
extern char OneChars[256];

#include "names.h"

// The ditto names, which stand for the last three results.
inline bool isditto(ALGEB s) { return s == ininame[0] || s == ininame[1] || s == ininame[2]; }
// A name whose value is ReadLibrary(name) is a stub that loads its library file when used.
inline bool isstub(ALGEB v) {
    return v != 0 && is(v, FUNCTION) && LENGTH2(v) >= 2 && A(v[1]) == ININReadLibrary;
}

[[noreturn]] void notimpl(const char *msg);

inline void StoreLEN(ALGEB x, WORD y) {
    if (IMMINT(x)) notimpl("StoreLEN");
    x[0] = (x[0] & COMPLEN) | (y & MASKLEN);
}
