// The constant test's match rule, on cell texts.
#pragma once

#include "columnar/plan_state.h"

namespace vornel::columnar {

// Whether a row's value matches the first row's. Top-level numbers match by
// their values as doubles (1 matches 1.0, 0 matches -0.0), except that two
// integers match only when they are the same integer; everything else,
// nested numbers included, matches by the value model's equality, objects
// in any member order.
//
// Both texts are in the writer's form, where equal texts mean equal values:
// only different texts need a closer look, and never a decoded document.
bool cells_match(const PlanState& state, const Cell& candidate, const Cell& reference);

}  // namespace vornel::columnar
