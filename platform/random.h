// The pseudo-random generator of the rename run.
#pragma once

#include <functional>

namespace tavrin::platform::random {

// Seeds the generator from the clock.
void seedFromClock();

// Test-only: a fixed seed, so a test can repeat a sequence.
void seedForTesting(unsigned long long seed);

// The next fraction in [0, 1).
double nextFraction();

// Test-only: nextFraction answers from `source` instead (empty restores the generator).
void setFractionSourceForTesting(std::function<double()> source);

} // namespace tavrin::platform::random
