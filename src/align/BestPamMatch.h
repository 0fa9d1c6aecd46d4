// PAM distance estimation: the distance at which an alignment scores best under a list of
// Dayhoff matrices, its maximum-likelihood refinement and the variance of the estimate.
#pragma once

#include "All.h"

// s1 and s2 are the aligned texts (equal lengths, _ in gaps), DMS a LIST of DAYMATRIX objects
// sorted by PamNumber. The result is [Sim, PamNumber, PamVariance] of the best matrix; the
// refined distance goes to the name MLPamDistance (ExpectedPamDistance when the first matrix
// is the best).
ALGEB EstimatePam(ALGEB s1, ALGEB s2, ALGEB DMS);
