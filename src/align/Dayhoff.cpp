// Dayhoff matrices: building them from mutation counts or a log-PAM1 matrix, choosing one by
// PAM distance, their fields, and the amino-acid and nucleotide alphabets.
#include "Dayhoff.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Lumbra.h"
#include "builtins.h"
#include "eval.h"
#include "evalfunc.h"
#include "matrix.h"

ALGEB LastMutMatrix = 0, LastAAFreq = 0, LastLogPAM1 = 0;
double NorFre[MAXMUTDIM];

// The caches hold objects that no name may hold any more; the collector must keep them.
static void rootcaches() {
    static bool done = false;
    if (done) return;
    done = true;
    GcRoot(&LastMutMatrix);
    GcRoot(&LastAAFreq);
    GcRoot(&LastLogPAM1);
}

// ---------------------------------------------------------------------------
// Alphabets

const char *const AminoAAA[NAMINO] = {"Ala", "Arg", "Asn", "Asp", "Cys", "Gln", "Glu", "Gly",
                                      "His", "Ile", "Leu", "Lys", "Met", "Phe", "Pro", "Ser",
                                      "Thr", "Trp", "Tyr", "Val", "X",   "Stop"};
const char *const AminoName[NAMINO] = {
    "Alanine",       "Arginine",      "Asparagine", "Aspartic acid", "Cysteine",  "Glutamine",
    "Glutamic acid", "Glycine",       "Histidine",  "Isoleucine",    "Leucine",   "Lysine",
    "Methionine",    "Phenylalanine", "Proline",    "Serine",        "Threonine", "Tryptophan",
    "Tyrosine",      "Valine",        "X",          "Stop"};
const char *const BaseBBB[NBASE - 1] = {"Ade", "Cyt", "Gua", "Thy", "Ura"};
const char *const BaseName[NBASE - 1] = {"Adenine", "Cytosine", "Guanine", "Thymine", "Uracil"};

static int checkedcode(int k, int n, const char *msg) {
    if (k < 0 || k >= n) userror(msg);
    return k;
}

char IntToA(int k) {
    return AminoLetters[checkedcode(k, NAMINO, "invalid argument for IntToA conversion")];
}
const char *IntToAAA(int k) {
    return AminoAAA[checkedcode(k, NAMINO, "invalid argument for IntToAAA conversion")];
}
const char *IntToAmino(int k) {
    return AminoName[checkedcode(k, NAMINO, "invalid argument for IntToAmino conversion")];
}
char IntToB(int k) {
    return BaseLetters[checkedcode(k, NBASE, "invalid argument for IntToB conversion")];
}
const char *IntToBBB(int k) {
    return BaseBBB[checkedcode(k, NBASE - 1, "invalid argument for IntToBBB conversion")];
}
const char *IntToBase(int k) {
    return BaseName[checkedcode(k, NBASE - 1, "invalid argument for IntToBase conversion")];
}

// The position of s in names by its first three characters (three) or the whole text.
static int findname(const char *s, size_t n, const char *const *names, int count, bool three,
                    const char *msg) {
    for (int k = 0; k < count; k++) {
        size_t m = strlen(names[k]);
        if (three ? n >= 3 && m >= 3 && memcmp(s, names[k], 3) == 0
                  : n == m && memcmp(s, names[k], n) == 0)
            return k;
    }
    userror(msg);
}

int AAAToInt(const char *s, size_t n) {
    return findname(s, n, AminoAAA, NAMINO, true, "invalid argument for AAAToInt conversion");
}
int AminoToInt(const char *s, size_t n) {
    return findname(s, n, AminoName, NAMINO, false, "invalid argument for AminoToInt conversion");
}
int BBBToInt(const char *s, size_t n) {
    return findname(s, n, BaseBBB, NBASE - 1, true, "invalid argument for BBBToInt conversion");
}
int BaseToInt(const char *s, size_t n) {
    return findname(s, n, BaseName, NBASE - 1, false, "invalid argument for BaseToInt conversion");
}

// The standard genetic code, indexed by 16*b1 + 4*b2 + b3 with A 0, C 1, G 2, T 3.
static constexpr char GeneticCode[] =
    "KNKNTTTTRSRSIIMIQHQHPPPPRRRRLLLLEDEDAAAAGGGGVVVV$Y$YSSSS$CWCLFLF";
static_assert(sizeof GeneticCode == 65);

int CodonToInt(char c1, char c2, char c3) {
    int b[3];
    const char cs[3] = {c1, c2, c3};
    for (int k = 0; k < 3; k++) {
        b[k] = BasetoPos[(unsigned char)cs[k]];
        if (b[k] < 0) userror("invalid argument for CodonToInt");
        if (b[k] == 4) b[k] = 3; // U is T
    }
    if (b[0] == BASE_X || b[1] == BASE_X) return AMINO_X;
    if (b[2] == BASE_X) {
        // In these families the third base does not matter: NCN, and CTN, CGN, GTN, GGN.
        bool fourfold = b[1] == 1 || ((b[0] == 1 || b[0] == 2) && (b[1] == 2 || b[1] == 3));
        if (!fourfold) return AMINO_X;
        b[2] = 0;
    }
    char aa = GeneticCode[16 * b[0] + 4 * b[1] + b[2]];
    return aa == '$' ? AMINO_STOP : ChartoPos[(unsigned char)aa];
}

ALGEB antiparallel(ALGEB nuc) {
    Chars s = textof(nuc);
    // RNA keeps its U: the partner of A is U when a U comes before any T.
    char partnerA = 'T';
    for (size_t k = 0; k < s.n; k++)
        if (s.s[k] == 'T' || s.s[k] == 'U') {
            partnerA = s.s[k];
            break;
        }
    auto complement = [partnerA](char c) {
        switch (c) {
        case 'A': return partnerA;
        case 'C': return 'G';
        case 'G': return 'C';
        case 'T':
        case 'U': return 'A';
        default: return 'X';
        }
    };
    if (s.n == 0) return OneChar[0];
    if (s.n == 1) return OneChar[(unsigned char)complement(s.s[0])];
    ALGEB r = NewText(s.n);
    char *d = STR(r)->t;
    for (size_t k = 0; k < s.n; k++)
        d[k] = complement(s.s[s.n - 1 - k]);
    return r;
}

// ---------------------------------------------------------------------------
// Procedures stored in a matrix: Mapping and DelCost.

// The procedure that v stands for: v itself, or the value of the name v; 0 when none.
static ALGEB procedureof(ALGEB v) {
    if (IMMINT(v)) return 0;
    if (ID2(v) == NAME) v = valuenv(v);
    return is(v, PROC) ? v : 0;
}

// f (a procedure or a name holding one) applied to the evaluated arguments args, which are
// not evaluated again: a Mapping receives names that may have values of their own.
static ALGEB callprocedure(ALGEB f, ALGEB args) {
    ALGEB proc = procedureof(f);
    if (proc == 0) userror2(f, "is not a procedure");
    ALGEB fname = ID2(f) == NAME ? f : ININunknown;
    if (hasoption(proc, ININbuiltin) || hasoption(proc, ININnumeric)) {
        ALGEB call = Newl2(LENGTH2(args) + 1, FUNCTION, ID2(f) == NAME ? f : proc);
        memcpy(call + 2, args + 1, (size_t)(LENGTH2(args) - 1) * sizeof(WORD));
        if (hasoption(proc, ININnumeric)) return applyproc(call, proc, fname);
        return evalbuiltin(proc, fname, call, args);
    }
    return evalfunc(proc, args, fname);
}

static ALGEB onecharname(unsigned char c) {
    char s[2] = {(char)c, 0};
    return naminstall(s);
}

int MapSymbolCall(unsigned char c, DayMatrix *dm) {
    if (dm->Mapping == 0) userror2(onecharname(c), "is an invalid symbol in sequence to align");
    if (dm->charmap[c] >= 0) return dm->charmap[c];
    ALGEB r = callprocedure(dm->Mapping, New2(EXPSEQ, onecharname(c)));
    if (!integer(r))
        userror2(r, "was returned by a Mapping function, which is not a valid scoring matrix "
                    "index");
    double k = DBL(r);
    if (k < 1 || k > dm->dim) userror2(r, "is not a valid range for a scoring matrix");
    dm->charmap[c] = (int16_t)(k - 1);
    return (int)k - 1;
}

double DeletionCost(WORD k, DayMatrix *dm) {
    if (k <= 0) return 0;
    if (!HasDelCost(dm)) return RoundDM(dm->FixedDel + (double)(k - 1) * dm->IncDel, dm);
    if (k <= DELCOSTARRAYSIZE && IDLENGTH(dm->DelCostArray, LISTNUM, DELCOSTARRAYSIZE + 1))
        return LISTNUMDATA(dm->DelCostArray)[k - 1];
    ALGEB r = callprocedure(dm->DelCost, New3(EXPSEQ, Newint(k), NewNumber(dm->PamNumber)));
    if (!numeric(r)) userror2(r, "procedure DelCost did not return a numerical indel penalty");
    return RoundDM(DBL(r), dm);
}

// ---------------------------------------------------------------------------
// Building matrices

ALGEB AssembleDayMatrix(double pam, const double *f, const double *MP, int d1, int d2,
                        ALGEB logpam) {
    ALGEB x = Newl1(DayMatrixWords(d2), DAYMATRIX);
    DayMatrix *dm = (DayMatrix *)x;
    dm->dim = (int16_t)d2;
    dm->PamNumber = pam;
    for (int c = 0; c < 256; c++)
        dm->charmap[c] = -1;
    double *S = dm->Simi;
    double maxs = 0;
    for (int i = 0; i < d1; i++)
        for (int j = i; j < d1; j++) {
            double p = MP[i * d1 + j];
            double s = f[i] > 0 && p > 0 ? 10 * std::log10(p / f[i]) : -50;
            S[i * d2 + j] = S[j * d2 + i] = s;
            if (s > maxs) maxs = s;
        }
    dm->MaxSim = maxs;
    // The largest sum of 2*MAXSEQLEN scores must stay below 2^53.
    if (maxs < 1 || d1 <= 0)
        dm->bits = 35;
    else
        dm->bits = (int16_t)std::ilogb(0x1p53 / (2.0 * MAXSEQLEN * maxs));
    for (int i = 0; i < d1; i++)
        for (int j = 0; j < d1; j++)
            S[i * d2 + j] = RoundDM(S[i * d2 + j], dm);
    dm->FixedDel = RoundDM(7.434 * std::log10(pam) - 37.64, dm);
    dm->IncDel = RoundDM(-1.3961, dm);
    if (d1 == 64) {
        // A codon is three bases: a gap grows by a third per base, its opening stays.
        dm->IncDel = RoundDM(dm->IncDel / 3, dm);
        dm->FixedDel = dm->FixedDel - 2 * dm->IncDel;
    }
    dm->DelCost = dm->DelCostArray = null;
    dm->StopSimil = RoundDM(1.99 * (dm->FixedDel + 2 * dm->IncDel / (-3)), dm);
    dm->logPAM1 = logpam;
    return x;
}

// The first n numbers of a row (a LISTNUM, or a LIST of numbers), or false.
static bool rownumbers(ALGEB row, WORD n, double *out) {
    if (IMMINT(row)) return false;
    if (ID2(row) == LISTNUM) {
        if (LISTNUMLEN(row) < n) return false;
        memcpy(out, LISTNUMDATA(row), (size_t)n * sizeof(double));
        return true;
    }
    if (ID2(row) != LIST) return false;
    ALGEB s = A(row[1]);
    if (LENGTH2(s) - 1 < n) return false;
    for (WORD j = 0; j < n; j++) {
        ALGEB e = A(s[j + 1]);
        if (!numeric(e)) return false;
        out[j] = DBL(e);
    }
    return true;
}

// The n x n matrix m (a LIST of n rows of n numbers) into L, or false.
static bool squarematrix(ALGEB m, WORD n, double *L) {
    if (!is(m, LIST) || LENGTH2(A(m[1])) - 1 != n) return false;
    for (WORD i = 0; i < n; i++) {
        ALGEB row = A(A(m[1])[i + 1]);
        WORD len = IMMINT(row)           ? -1
                   : ID2(row) == LISTNUM ? LISTNUMLEN(row)
                   : ID2(row) == LIST    ? LENGTH2(A(row[1])) - 1
                                         : -1;
        if (len != n || !rownumbers(row, n, L + i * n)) return false;
    }
    return true;
}

// The log-PAM1 matrix L from symmetric mutation counts (the lower triangle of Mutations) and
// symbol counts, and their normalised frequencies f. The rates are scaled so that 1 % of the
// symbols change in one unit of time.
static void logpamfromcounts(ALGEB Mutations, ALGEB AaCounts, WORD n, double *L, double *f) {
    WorkingScope scope;
    double *Cnt, *R, *RelMut, *row;
    WorkingStorage(n * n, double, Cnt);
    WorkingStorage(n, double, R);
    WorkingStorage(n, double, RelMut);
    WorkingStorage(n, double, row);
    ALGEB rows = A(Mutations[1]);
    for (WORD i = 0; i < n; i++) {
        if (!rownumbers(A(rows[i + 1]), i + 1, row))
            userror("CreateOrigDayMatrix: invalid mutations matrix");
        for (WORD j = 0; j <= i; j++) {
            if (row[j] < 0) userror("negative entries in Mutations matrix");
            Cnt[i * n + j] = Cnt[j * n + i] = row[j];
        }
    }
    for (WORD i = 0; i < n; i++) {
        R[i] = 0;
        for (WORD j = 0; j < n; j++)
            R[i] += Cnt[i * n + j];
    }
    bool packed = is(AaCounts, LISTNUM);
    bool listed = is(AaCounts, LIST);
    if (!(packed || listed) || !rownumbers(AaCounts, n, f))
        userror2(AaCounts, "must be a list of a positive count for every symbol");
    double tot = 0;
    for (WORD i = 0; i < n; i++) {
        if (f[i] <= 0) userror("non-positive frequecies");
        tot += f[i];
    }
    double sumf = 0, sumfr = 0;
    for (WORD i = 0; i < n; i++) {
        f[i] /= tot;
        RelMut[i] = R[i] / f[i];
        sumf += f[i];
        sumfr += f[i] * RelMut[i];
    }
    if (!(sumfr > 0)) userror("CreateOrigDayMatrix: the Mutations matrix counts no mutation");
    double lambda = (sumf - 0.99) / sumfr;
    for (WORD i = 0; i < n; i++)
        for (WORD j = 0; j < n; j++)
            // A symbol that never mutates (R 0) keeps a column of zeros.
            L[i * n + j] = i == j                ? -lambda * RelMut[i]
                           : Cnt[i * n + j] == 0 ? 0
                                                 : RelMut[j] * lambda * Cnt[i * n + j] / R[j];
}

ALGEB CreateOrigDayMatrix(ALGEB Mutations, ALGEB AaCounts, ALGEB PamNum) {
    rootcaches();
    if (!is(Mutations, LIST)) userror2(Mutations, "invalid argument");
    double pam1, pam2;
    bool range = is(PamNum, RANGE);
    if (numeric(PamNum)) {
        pam1 = pam2 = DBL(PamNum);
    } else if (range && numeric(A(PamNum[1])) && numeric(A(PamNum[2]))) {
        pam1 = DBL(A(PamNum[1]));
        pam2 = DBL(A(PamNum[2]));
    } else {
        userror("incorrect Pam number");
    }
    // A range must start at 1, also one of a single PAM distance.
    if (!(pam1 > 0) || pam2 > 10000 || pam1 > pam2 || ((range || pam2 > pam1) && pam1 != 1))
        userror("incorrect Pam number");
    WORD n = LENGTH2(A(Mutations[1])) - 1;
    if (n < 1 || n > MAXMUTDIM) userror2(Mutations, "dimension out of range");

    WorkingScope scope;
    double *L, *MP, *w1, *w2;
    WorkingStorage(n * n, double, L);
    WorkingStorage(n * n, double, MP);
    WorkingStorage(n * n, double, w1);
    WorkingStorage(n * n, double, w2);
    ALGEB current = ININlogPAM1[1] != 0 ? A(ININlogPAM1[1]) : ININlogPAM1;
    ALGEB logpam;
    if (Mutations == LastMutMatrix && AaCounts == LastAAFreq && current == LastLogPAM1 &&
        squarematrix(current, n, L)) {
        logpam = current; // NorFre is still that of the same counts
    } else if (AaCounts == 0) {
        if (!squarematrix(Mutations, n, L))
            userror2(Mutations, "is not a square matrix of numbers (a log-PAM1 matrix)");
        LastAAFreq = 0;
        logpam = Mutations;
    } else {
        // NorFre changes only with the caches: a later call may take both.
        double f[MAXMUTDIM];
        logpamfromcounts(Mutations, AaCounts, n, L, f);
        logpam = NewMatrix(L, n, n);
        memcpy(NorFre, f, (size_t)n * sizeof(double));
        ININlogPAM1[1] = W(logpam);
        LastMutMatrix = Mutations;
        LastAAFreq = AaCounts;
        LastLogPAM1 = logpam;
    }

    if (pam1 != 1)
        for (WORD k = 0; k < n * n; k++)
            L[k] *= pam1;
    mexp(L, w1, w2, MP, n);
    if (AaCounts == 0) {
        // Frequencies from detailed balance: f[i] MP[0][i] = f[0] MP[i][0].
        double tot = 0;
        for (WORD i = 0; i < n; i++) {
            NorFre[i] = MP[i] != 0 && MP[i * n] != 0 ? MP[i * n] / MP[i] : 0;
            tot += NorFre[i];
        }
        if (!(tot > 0 && tot < DBL_MAX))
            userror2(Mutations, "is not a log-PAM1 matrix: its exponential has no frequencies");
        for (WORD i = 0; i < n; i++)
            NorFre[i] /= tot;
    }

    int d2 = n == 20 ? 21 : (int)n; // the 21st row and column score X
    ALGEB kind = n == 20 ? naminstall("Peptide") : n == 64 ? naminstall("Nucleotide") : ININunknown;
    auto assemble = [&](double pam) {
        for (WORD k = 0; k < n * n; k++)
            if (!std::isfinite(MP[k]))
                userror("CreateOrigDayMatrix: the mutation probabilities overflow, the log-PAM1 "
                        "matrix is not a rate matrix");
        ALGEB dm = AssembleDayMatrix(pam, NorFre, MP, (int)n, d2, logpam);
        ((DayMatrix *)dm)->type = kind;
        return eval(dm);
    };
    if (!range) return assemble(pam1);

    WORD count = (WORD)std::floor(pam2);
    ALGEB seq = Newl1(count + 1, EXPSEQ);
    double *P1 = L; // L has served: it keeps the PAM-1 matrix now
    memcpy(P1, MP, (size_t)(n * n) * sizeof(double));
    for (double pam = pam1; pam <= pam2; pam += 1) {
        if (InterruptNow) lumbra_jump(Main);
        seq[(WORD)std::floor(pam - pam1 + 1)] = W(assemble(pam));
        if (pam < pam2) {
            mmul(MP, P1, w1, n);
            std::swap(MP, w1);
        }
    }
    return New2(LIST, seq);
}

WORD SearchDayMatrix(double pam, ALGEB dms) {
    auto pamof = [dms](WORD k) { return ((DayMatrix *)A(dms[k]))->PamNumber; };
    WORD n = LENGTH2(dms) - 1, lo = 0, hi = n + 1;
    while (hi - lo > 1) {
        WORD mid = (lo + hi) / 2;
        if (pam > pamof(mid))
            lo = mid;
        else
            hi = mid;
    }
    if (lo == 0) return hi;
    if (hi == n + 1) return lo;
    return pam - pamof(lo) > pamof(hi) - pam ? hi : lo;
}

// ---------------------------------------------------------------------------
// Fields

// The fields by name, in the order they are matched; from MaxSim on they are read-only.
enum class Field {
    FixedDel,
    IncDel,
    DelCost,
    StopSimil,
    Mapping,
    type,
    MaxSim,
    logPAM1,
    Dimension,
    MinSim,
    MaxOffDiag,
    PamNumber,
    PamDistance,
    Sim,
    none
};
static constexpr const char *FieldNames[] = {
    "FixedDel", "IncDel",    "DelCost", "StopSimil",  "Mapping",   "type",        "MaxSim",
    "logPAM1",  "Dimension", "MinSim",  "MaxOffDiag", "PamNumber", "PamDistance", "Sim"};

// The field a NAME or TEXT spells exactly.
static Field fieldof(ALGEB sel) {
    if (!textual(sel)) return Field::none;
    Chars c = textof(sel);
    for (int k = 0; k < (int)Field::none; k++)
        if (strlen(FieldNames[k]) == c.n && memcmp(FieldNames[k], c.s, c.n) == 0) return (Field)k;
    return Field::none;
}

// Without a Mapping a 21 x 21 matrix scores 20 amino acids and X; users see the 20.
static int visibledim(const DayMatrix *dm) {
    return dm->dim == 21 && dm->Mapping == 0 ? 20 : dm->dim;
}

static double negativecost(ALGEB val, const DayMatrix *dm, const char *name) {
    char msg[100];
    if (HasDelCost(dm)) {
        snprintf(msg, sizeof msg, "%s cannot be set when a DelCost function is used", name);
        userror2(val, msg);
    }
    if (!numeric(val) || !(DBL(val) < 0)) {
        snprintf(msg, sizeof msg, "%s must be negative for DP to work properly", name);
        userror2(val, msg);
    }
    return RoundDM(DBL(val), dm);
}

// Every gap length up to DELCOSTARRAYSIZE is tried before anything changes: the costs must
// be negative, decreasing and convex for the alignment algorithms.
static void setdelcost(DayMatrix *dm, ALGEB val) {
    if (procedureof(val) == 0)
        userror2(val, "DelCost must be assigned a procedure that evaluates the indel costs");
    ALGEB costs = Newl1(DELCOSTARRAYSIZE + 1, LISTNUM);
    double *c = LISTNUMDATA(costs) - 1; // c[k] for k = 1 .. DELCOSTARRAYSIZE
    ALGEB pam = NewNumber(dm->PamNumber);
    for (WORD k = 1; k <= DELCOSTARRAYSIZE; k++) {
        ALGEB r = callprocedure(val, New3(EXPSEQ, MKIMM(k), pam));
        if (!numeric(r)) userror2(r, "procedure DelCost did not return a numerical indel penalty");
        double x = DBL(r);
        if (!(x < 0)) userror2(r, "procedure DelCost did not return a negative indel penalty");
        if (k >= 2 && x > c[k - 1]) userror2(r, "DelCost produces non monotonic decreasing values");
        if (k >= 3 && x - 2 * c[k - 1] + c[k - 2] < 0)
            userror2(r, "DelCost has a negataive second derivative");
        c[k] = RoundDM(x, dm);
    }
    dm->DelCost = val;
    dm->DelCostArray = costs;
    dm->FixedDel = dm->IncDel = 0;
}

static ALGEB readfield(DayMatrix *dm, Field f) {
    WORD nn = (WORD)dm->dim * dm->dim;
    switch (f) {
    case Field::FixedDel: return NewNumber(dm->FixedDel);
    case Field::IncDel: return NewNumber(dm->IncDel);
    case Field::DelCost: return dm->DelCost;
    case Field::StopSimil: return NewNumber(dm->StopSimil);
    case Field::Mapping: return dm->Mapping != 0 ? dm->Mapping : naminstall("AToInt");
    case Field::type: return dm->type;
    case Field::MaxSim: return NewNumber(dm->MaxSim);
    case Field::logPAM1: return dm->logPAM1;
    case Field::Dimension: return Newint(visibledim(dm));
    case Field::MinSim: {
        double m = DBL_MAX;
        for (WORD k = 0; k < nn; k++)
            m = std::min(m, dm->Simi[k]);
        return NewNumber(m);
    }
    case Field::MaxOffDiag: {
        double m = -DBL_MAX;
        for (WORD k = 0; k < nn; k++)
            if (k / dm->dim != k % dm->dim) m = std::max(m, dm->Simi[k]);
        return NewNumber(m);
    }
    case Field::PamNumber:
    case Field::PamDistance: return NewNumber(dm->PamNumber);
    case Field::Sim: {
        int d = visibledim(dm);
        WorkingScope scope;
        double *s;
        WorkingStorage(d > 0 ? d * d : 1, double, s);
        for (int i = 0; i < d; i++)
            for (int j = 0; j < d; j++)
                s[i * d + j] = DMScore(dm, i, j);
        return NewMatrix(s, d, d);
    }
    case Field::none: break;
    }
    notimpl("readfield");
}

static void assignfield(DayMatrix *dm, Field f, ALGEB val) {
    switch (f) {
    case Field::FixedDel: dm->FixedDel = negativecost(val, dm, "FixedDel"); return;
    case Field::IncDel: dm->IncDel = negativecost(val, dm, "IncDel"); return;
    case Field::DelCost: setdelcost(dm, val); return;
    case Field::StopSimil:
        if (!numeric(val)) userror2(val, "StopSimil must be a number");
        dm->StopSimil = RoundDM(DBL(val), dm);
        return;
    case Field::Mapping:
        if (procedureof(val) == 0) userror2(val, "is not a valid procedure to assign as a Mapping");
        dm->Mapping = val;
        for (int c = 0; c < 256; c++)
            dm->charmap[c] = -1;
        return;
    case Field::type:
        if (!textual(val)) userror2(val, "DayMatrix type must be a name or string");
        dm->type = val;
        return;
    default: userror("cannot assign to component of DayMatrix");
    }
}

// The 0-based index that a selector of d[Sim, a, b] names.
static int scoreindex(ALGEB x, DayMatrix *dm) {
    WORD k;
    if (IMMINT(x))
        k = IMMVAL(x) - 1;
    else if (textual(x)) {
        Chars c = textof(x);
        k = MapSymbol(c.n > 0 ? (unsigned char)c.s[0] : 0, dm);
    } else
        userror2(x, "is an invalid index for a Dayhoff matrix");
    if (k < 0 || k >= dm->dim) userror2(x, "is out of range for indexing a Dayhoff matrix");
    return (int)k;
}

ALGEB DayMatrixSel(ALGEB d, ALGEB t, int i, ALGEB val) {
    DayMatrix *dm = (DayMatrix *)d;
    WORD n = LENGTH2(t) - i;
    for (WORD k = i; k < LENGTH2(t); k++)
        if (is(A(t[k]), EXPSEQ)) {
            ALGEB rest = Newl1(n + 1, EXPSEQ);
            memcpy(rest + 1, t + i, (size_t)n * sizeof(WORD));
            t = FlattenExpseq(rest, 0);
            i = 1;
            n = LENGTH2(t) - 1;
            break;
        }
    ALGEB sel = n >= 1 ? A(t[i]) : null;
    Field f = n == 1 ? fieldof(sel) : Field::none;
    if (f != Field::none) {
        if (val == 0) return readfield(dm, f);
        assignfield(dm, f, val);
        return val;
    }
    // d[Sim, a, b]: a string selector may abbreviate Sim.
    bool sim = !IMMINT(sel) && (ID2(sel) == NAME ? strcmp(NAMETEXT(sel), "Sim") == 0
                                                 : ID2(sel) == TEXT && STR(sel)->length <= 3 &&
                                                       EqualText(sel, "Sim"));
    if (n != 3 || !sim) userror2(sel, "is an invalid selector for a Dayhoff matrix");
    int a = scoreindex(A(t[i + 1]), dm), b = scoreindex(A(t[i + 2]), dm);
    if (val == 0) return NewNumber(dm->Simi[a * dm->dim + b]);
    if (!numeric(val)) userror2(val, "is not a number to store as a score of a Dayhoff matrix");
    dm->Simi[a * dm->dim + b] = dm->Simi[b * dm->dim + a] = RoundDM(DBL(val), dm);
    return val;
}
