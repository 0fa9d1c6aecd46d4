// The names every kernel component may reach directly, installed at start-up in this order.
#pragma once

constexpr int MAXININnames = 34;
constexpr int TYNAMESIZE = 45;

extern WORD *ininame[MAXININnames];
extern WORD *tyname[TYNAMESIZE];

// Texts of the kernel names; entries 0..2 are the ditto names.
constexpr const char *ininame_text[MAXININnames] = {
    "\"",
    "\"\"",
    "\"\"\"",
    "DB",
    "NULL",
    "NoDefault",
    "NoIndexing",
    "NormalizeOnAssign",
    "NumberFormat",
    "ReadLibrary",
    "abs",
    "args",
    "arrow",
    "break",
    "builtin",
    "colon",
    "factorial",
    "false",
    "intersect",
    "iterate",
    "lasterror",
    "libname",
    "logPAM1",
    "nargs",
    "next",
    "operator",
    "polymorphic",
    "printlevel",
    "procname",
    "table",
    "trace",
    "true",
    "unknown",
    "zippable",
};

constexpr const char *tyname_text[TYNAMESIZE] = {
    "And",
    "Assign",
    "DayMatrix",
    "ForLoop",
    "IfStat",
    "Local",
    "Match",
    "Not",
    "Or",
    "Param",
    "StatSeq",
    "Stop",
    "VectorDB",
    "anything",
    "array",
    "boolean",
    "catenate",
    "compressed",
    "constant",
    "database",
    "equal",
    "expseq",
    "float",
    "integer",
    "less",
    "lessequal",
    "list",
    "matrix",
    "name",
    "negative",
    "numeric",
    "plus",
    "posint",
    "positive",
    "power",
    "procedure",
    "range",
    "relation",
    "select",
    "set",
    "string",
    "structure",
    "symbol",
    "times",
    "unequal",
};

#define ININDB (ininame[3])
#define ININNULL (ininame[4])
#define ININNoDefault (ininame[5])
#define ININNoIndexing (ininame[6])
#define ININNormalizeOnAssign (ininame[7])
#define ININNumberFormat (ininame[8])
#define ININReadLibrary (ininame[9])
#define ININabs (ininame[10])
#define ININargs (ininame[11])
#define ININarrow (ininame[12])
#define ININbreak (ininame[13])
#define ININbuiltin (ininame[14])
#define ININcolon (ininame[15])
#define ININfactorial (ininame[16])
#define ININfalse (ininame[17])
#define ININintersect (ininame[18])
#define ININiterate (ininame[19])
#define ININlasterror (ininame[20])
#define ININlibname (ininame[21])
#define ININlogPAM1 (ininame[22])
#define ININnargs (ininame[23])
#define ININnext (ininame[24])
#define ININoperator (ininame[25])
#define ININpolymorphic (ininame[26])
#define ININprintlevel (ininame[27])
#define ININprocname (ininame[28])
#define ININtable (ininame[29])
#define ININtrace (ininame[30])
#define ININtrue (ininame[31])
#define ININunknown (ininame[32])
#define ININzippable (ininame[33])

#define ININAnd (tyname[0])
#define ININAssign (tyname[1])
#define ININDayMatrix (tyname[2])
#define ININForLoop (tyname[3])
#define ININIfStat (tyname[4])
#define ININLocal (tyname[5])
#define ININMatch (tyname[6])
#define ININNot (tyname[7])
#define ININOr (tyname[8])
#define ININParam (tyname[9])
#define ININStatSeq (tyname[10])
#define ININStop (tyname[11])
#define ININVectorDB (tyname[12])
#define ININanything (tyname[13])
#define ININarray (tyname[14])
#define ININboolean (tyname[15])
#define ININcatenate (tyname[16])
#define ININcompressed (tyname[17])
#define ININconstant (tyname[18])
#define ININdatabase (tyname[19])
#define ININequal (tyname[20])
#define ININexpseq (tyname[21])
#define ININfloat (tyname[22])
#define ININinteger (tyname[23])
#define ININless (tyname[24])
#define ININlessequal (tyname[25])
#define ININlist (tyname[26])
#define ININmatrix (tyname[27])
#define ININname (tyname[28])
#define ININnegative (tyname[29])
#define ININnumeric (tyname[30])
#define ININplus (tyname[31])
#define ININposint (tyname[32])
#define ININpositive (tyname[33])
#define ININpower (tyname[34])
#define ININprocedure (tyname[35])
#define ININrange (tyname[36])
#define ININrelation (tyname[37])
#define ININselect (tyname[38])
#define ININset (tyname[39])
#define ININstring (tyname[40])
#define ININstructure (tyname[41])
#define ININsymbol (tyname[42])
#define ININtimes (tyname[43])
#define ININunequal (tyname[44])
