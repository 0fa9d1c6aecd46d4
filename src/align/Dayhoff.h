// Dayhoff matrices and the sequence alphabets: what alignment, PAM estimation and database
// scans may call.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "All.h"

// ---------------------------------------------------------------------------
// Alphabets. Amino acids are coded 0..21 in the order of the Dayhoff tables, X (20) being the
// unknown residue and $ (21) a stop codon; bases are coded 0..5 as A C G T U X. These are the
// internal codes: the language counts from 1 (AToInt('A') is 1).

constexpr int NAMINO = 22;
constexpr int AMINO_X = 20;
constexpr int AMINO_STOP = 21;
constexpr int NBASE = 6;
constexpr int BASE_X = 5;

inline constexpr char AminoLetters[] = "ARNDCQEGHILKMFPSTWYVX$";
inline constexpr char BaseLetters[] = "ACGTUX";
extern const char *const AminoAAA[NAMINO];    // "Ala" .. "Val", "X", "Stop"
extern const char *const AminoName[NAMINO];   // "Alanine" .. "Valine", "X", "Stop"
extern const char *const BaseBBB[NBASE - 1];  // "Ade", "Cyt", "Gua", "Thy", "Ura"
extern const char *const BaseName[NBASE - 1]; // "Adenine" .. "Uracil"

// Character to code, -1 for characters without one; index with the unsigned byte. Only
// upper-case letters have codes, and $ has none: a stop only arises from translation.
using CodeTable = std::array<int8_t, 256>;
constexpr CodeTable MakeCodeTable(const char *letters, int n) {
    CodeTable t{};
    for (int c = 0; c < 256; c++)
        t[c] = -1;
    for (int i = 0; i < n; i++)
        t[(unsigned char)letters[i]] = (int8_t)i;
    return t;
}
inline constexpr CodeTable ChartoPos = MakeCodeTable(AminoLetters, 21);
inline constexpr CodeTable BasetoPos = MakeCodeTable(BaseLetters, NBASE);

// Code to text and back. Each raises the user error of its conversion ("invalid argument for
// IntToA conversion" and so on) when the code or the name has no entry. The three-letter forms
// compare the first three characters; the others the whole text.
char IntToA(int k);
const char *IntToAAA(int k);
const char *IntToAmino(int k);
char IntToB(int k);
const char *IntToBBB(int k);
const char *IntToBase(int k);
int AAAToInt(const char *s, size_t n);
int AminoToInt(const char *s, size_t n);
int BBBToInt(const char *s, size_t n);
int BaseToInt(const char *s, size_t n);

// The amino-acid code of a codon by the standard genetic code (AMINO_STOP for a stop codon).
// U counts as T; X in the first or second place gives AMINO_X, and in the third place too
// unless the codon family is fourfold degenerate. Characters that are not bases raise "invalid
// argument for CodonToInt".
int CodonToInt(char b1, char b2, char b3);

// The reverse complement of a nucleotide text: A pairs with U when a U comes before any T.
ALGEB antiparallel(ALGEB nuc);

// ---------------------------------------------------------------------------
// The record of a DAYMATRIX object (layout in All.h). Scores are Simi[i*dim + j] for 0-based
// indices from MapSymbol; every score and gap cost is a multiple of 2^-bits (RoundDM), so sums
// along an alignment of up to 2*MAXSEQLEN positions are exact.

inline DayMatrix *daymatrix(ALGEB x) { return is(x, DAYMATRIX) ? (DayMatrix *)x : nullptr; }

// Words of a DAYMATRIX object with a dim x dim table.
constexpr WORD DayMatrixWords(int dim) {
    return (WORD)((sizeof(DayMatrix) + (size_t)dim * dim * sizeof(double) + 7) / 8);
}

// x rounded to the nearest multiple of 2^-bits (ties as rint in the current rounding mode).
inline double RoundDM(double x, int bits) {
    return std::scalbn(std::rint(std::scalbn(x, bits)), -bits);
}
inline double RoundDM(double x, const DayMatrix *dm) { return RoundDM(x, dm->bits); }

inline double DMScore(const DayMatrix *dm, int i, int j) { return dm->Simi[i * dm->dim + j]; }

// Whether the matrix has a gap-cost procedure (DelCost) instead of the affine FixedDel, IncDel.
inline bool HasDelCost(const DayMatrix *dm) { return !IDLENGTH(dm->DelCost, EXPSEQ, 1); }

// The 0-based index of character c in dm: ChartoPos without a Mapping, else the Mapping
// procedure's answer less one, cached in charmap. A character without a valid index raises a
// user error. Calling the Mapping procedure runs language code.
int MapSymbolCall(unsigned char c, DayMatrix *dm);
inline int MapSymbol(unsigned char c, DayMatrix *dm) {
    int k = dm->Mapping == 0 ? ChartoPos[c] : dm->charmap[c];
    if (k >= 0 && k < dm->dim) return k;
    return MapSymbolCall(c, dm);
}

// The (negative) cost of a gap of length k >= 0: affine FixedDel + (k-1)*IncDel, or the
// DelCost procedure's value, precomputed in DelCostArray up to DELCOSTARRAYSIZE.
double DeletionCost(WORD k, DayMatrix *dm);

// ---------------------------------------------------------------------------
// Building and choosing matrices.

// Mutations with AaCounts (symbol counts), or Mutations as a log-PAM1 matrix when AaCounts is
// 0. PamNum is a number or a range 1..p; the result is a DAYMATRIX or a LIST of p of them.
ALGEB CreateOrigDayMatrix(ALGEB Mutations, ALGEB AaCounts, ALGEB PamNum);

// The matrix of side d2 for the PAM-pam mutation probabilities MP (d1 x d1, MP[i*d1 + j] the
// probability that j becomes i) and the symbol frequencies f; type and Mapping are left empty.
ALGEB AssembleDayMatrix(double pam, const double *f, const double *MP, int d1, int d2,
                        ALGEB logpam);

// The 1-based position in dms (the EXPSEQ of a LIST of DAYMATRIX objects sorted by PamNumber)
// of the matrix nearest to pam; a tie goes to the smaller PAM.
WORD SearchDayMatrix(double pam, ALGEB dms);

// The fields of a Dayhoff matrix, d[FixedDel], d[Sim, A, R] and so on, read (val 0) or assigned.
ALGEB DayMatrixSel(ALGEB d, ALGEB t, int i, ALGEB val);

// What the last computation from counts left behind, for the collector and for tests.
extern ALGEB LastMutMatrix, LastAAFreq, LastLogPAM1;
extern double NorFre[MAXMUTDIM];
