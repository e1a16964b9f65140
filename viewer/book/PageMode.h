// How pages are laid out on screen.
#pragma once

#include <cstdint>

// The view's page mode as the profile stores it. A stored value outside
// the three is kept as it is: every place that reads the mode decides
// what it means there (a spread for the pairing rules, a single page for
// drawing).
enum class PageMode : int32_t { Single = 0, SpreadRight = 1, SpreadLeft = 2 };
