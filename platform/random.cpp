#include "platform/random.h"

#include <chrono>
#include <random>

namespace tavrin::platform::random {

namespace {

std::mt19937_64& generator() {
    static std::mt19937_64 gen;
    return gen;
}

std::function<double()>& fractionSource() {
    static std::function<double()> source;
    return source;
}

} // namespace

void seedFromClock() {
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    generator().seed(static_cast<unsigned long long>(now));
}

void seedForTesting(unsigned long long seed) {
    generator().seed(seed);
}

double nextFraction() {
    if (const auto& source = fractionSource()) {
        return source();
    }
    // 53 random bits: every value lies in [0, 1), never 1.
    return static_cast<double>(generator()() >> 11) * 0x1.0p-53;
}

void setFractionSourceForTesting(std::function<double()> source) {
    fractionSource() = std::move(source);
}

} // namespace tavrin::platform::random
