// Makes sure a bench probe's target answers on its ITM and TPIU registers. Until every bench target
// carries its own trace blocks, a target without them gets a unit owned here (with firmware that
// never writes to the ITM), so that a trace setup through the interface can run against it.
#pragma once

#include "DravikBench/SimProbe.h"

namespace dravik::test {

// Does nothing when the target already has trace blocks or there is no target.
void EnsureTraceBlocks(sim::SimProbe& probe);
// Frees the units handed out so far. Only once no target made before still exists (after the
// bench was cleared or reset): a long run that makes many targets calls it to stay small.
void ReleaseTraceBlocks();

}  // namespace dravik::test
