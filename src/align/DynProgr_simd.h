// The vectorised local scorers: striped Smith-Waterman over a query profile in double, float,
// 16-bit and 8-bit cells, for every instruction set through one dispatch point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What a scorer needs: sequences as 0-based matrix indices, the row-major score table and the
// affine gap costs (a gap of k positions costs FixedDel + (k - 1) IncDel, both negative).
struct DPScoring {
    const double *simi;
    int dim;
    double FixedDel, IncDel;
};

enum class LocalCell { Double, Float, Short, Byte };

// The best local score and, for double cells, its cell: rows are positions of s1, columns of
// s2, 1-based; the first cell in row-major order wins ties. With a goal, the scan stops at the
// first cell (in row-major order) whose score reaches it and reports that cell.
struct LocalEnd {
    double score;
    int max1, max2;
    bool interrupted;
};

// Bytes of working storage a scorer needs for a second sequence of length l2 (the profile and
// rows), including the slack to align it and, for integer cells, what their exact fallback
// needs.
size_t LocalWorkBytes(LocalCell cell, int l2, const DPScoring &sc, double bound);

// The local score of s1 (length l1 >= 1) against s2 (l2 >= 1). Integer cells scale every score
// by f = top / bound (65535 or 255), rounding each one up, so the result, best / f rounded up,
// is never below the true score; when the scaled scores reach the top of the cell the result
// is the largest double (the estimate reached bound). Integer cells that cannot hold a single
// scaled score fall back to the exact scorer with the same meaning of the result. stop is
// polled between rows; when it becomes non-zero the scorer returns with interrupted set.
LocalEnd LocalScoreStriped(LocalCell cell, const uint8_t *s1, int l1, const uint8_t *s2, int l2,
                           const DPScoring &sc, double goal, double bound, void *work,
                           const volatile int *stop);

// The local score of s1 (length l1 >= 1) against s2 (l2 >= 1) and its cell by double cells, as
// LocalScoreStriped gives it without a goal, but abandoned after the first row i whose best so
// far stays below reach[i] (reach[1 .. l1]): then the score is minus infinity. The work needs
// LocalWorkBytes(LocalCell::Double, l2, sc, 0).
LocalEnd LocalScoreReaching(const uint8_t *s1, int l1, const uint8_t *s2, int l2,
                            const DPScoring &sc, const double *reach, void *work,
                            const volatile int *stop);

// The first cell, in row-major order, whose score reaches goal in the recurrence of s1 against
// s2 without the clamp at 0 (alignments that start at the edge of the table, row 0 or column 0
// holding 0), and with no gap that starts at the edge: its score and its 1-based cell; the
// best score of the table, with a cell of no meaning, when no cell reaches goal. The work needs
// LocalWorkBytes(LocalCell::Double, l2, sc, 0).
LocalEnd LocalScoreFromEdge(const uint8_t *s1, int l1, const uint8_t *s2, int l2,
                            const DPScoring &sc, double goal, void *work, const volatile int *stop);

// Upper bounds of the local scores of many first sequences against one s2 (l2 >= 1), by the
// 8-bit cells and, where those reach the goal, the 16-bit cells, with s2's profiles built once.
// feed.next hands out the first sequences one by one (null ends the run); feed.bound receives, for
// each, a number never below its exact local score, the largest double when the estimate reached
// the cells' top, which lies at goal or above. Returns false when stop became non-zero. The work
// needs LocalBoundsWorkBytes.
struct BoundFeed {
    const uint8_t *(*next)(void *ctx, int *l1);
    void (*bound)(void *ctx, double b);
    void *ctx;
};
size_t LocalBoundsWorkBytes(int l2, const DPScoring &sc, double goal);
bool LocalBounds(const uint8_t *s2, int l2, const DPScoring &sc, double goal, const BoundFeed &feed,
                 void *work, const volatile int *stop);

// The instruction sets compiled in and supported by this processor, best first; forcing one
// (0: the processor's best) changes the dispatch point for every later call.
std::vector<int64_t> LocalScorerTargets();
void LocalScorerForce(int64_t target);
const char *LocalScorerTargetName(int64_t target);
int64_t LocalScorerTarget(); // the one in use
