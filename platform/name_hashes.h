// The set of name hashes a watched folder's free-name lookups answer from,
// shared by the per-OS sources.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrin::platform::detail {

// FNV-1a, one step per character (byte or UTF-16 unit), each character
// folded first by the caller's rule.
constexpr std::uint64_t hashStart = 0xcbf29ce484222325u;
constexpr std::uint64_t hashStep(std::uint64_t hash, std::uint64_t folded) {
    return (hash ^ folded) * 0x100000001b3u;
}

// A set of name hashes, open addressed: it holds every name of a folder of
// 100,000 files and answers one lookup per file of a run, and the names a
// batch of the run claims, without an allocation per name.
class NameHashes {
public:
    void insert(std::uint64_t hash) {
        if ((count_ + 1) * 2 > slots_.size()) {
            grow();
        }
        std::uint64_t& slot = slots_[slotOf(slots_, hash)];
        count_ += slot == empty ? 1 : 0;
        slot = stored(hash);
    }

    // Inserts `n` hashes, fetching each one's slot from memory a few turns
    // ahead: in a set larger than the caches, an insert is mostly a wait.
    void insert(const std::uint64_t* hashes, std::size_t n) {
        reserve(count_ + n);
        constexpr std::size_t ahead = 8;
        for (std::size_t i = 0; i < n; ++i) {
            if (i + ahead < n) {
                __builtin_prefetch(&slots_[home(slots_, hashes[i + ahead])]);
            }
            insert(hashes[i]);
        }
    }

    // Room for `n` hashes in all without growing.
    void reserve(std::size_t n) {
        if ((n + 1) * 2 > slots_.size()) {
            grow((n + 1) * 2);
        }
    }

    bool contains(std::uint64_t hash) const {
        return !slots_.empty() && slots_[slotOf(slots_, hash)] != empty;
    }

    // Empties the set and keeps its room.
    void clear() {
        if (count_ > 0) {
            std::fill(slots_.begin(), slots_.end(), empty);
            count_ = 0;
        }
    }

private:
    static constexpr std::uint64_t empty = 0;
    static std::uint64_t stored(std::uint64_t hash) { return hash == empty ? 1 : hash; }

    // The slot that holds `hash`, or the empty one where it goes.
    static std::size_t home(const std::vector<std::uint64_t>& slots, std::uint64_t hash) {
        return (hash ^ (hash >> 32)) & (slots.size() - 1);
    }

    static std::size_t slotOf(const std::vector<std::uint64_t>& slots, std::uint64_t hash) {
        const std::size_t mask = slots.size() - 1;
        std::size_t at = home(slots, hash);
        while (slots[at] != empty && slots[at] != stored(hash)) {
            at = (at + 1) & mask;
        }
        return at;
    }

    // At least doubles the room, to `atLeast` slots or more.
    void grow(std::size_t atLeast = 0) {
        std::size_t size = std::max<std::size_t>(1024, slots_.size() * 2);
        while (size < atLeast) {
            size *= 2;
        }
        std::vector<std::uint64_t> bigger(size, empty);
        for (const std::uint64_t hash : slots_) {
            if (hash != empty) {
                bigger[slotOf(bigger, hash)] = hash;
            }
        }
        slots_.swap(bigger);
    }

    std::vector<std::uint64_t> slots_;
    std::size_t count_ = 0;
};

} // namespace tavrin::platform::detail
