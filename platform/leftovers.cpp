// Telling the leftovers of a rename cut short from the user's files, and
// removing them only once they are proved to be the program's own.
#include "platform/fs.h"
#include "platform/fs_internal.h"
#include "platform/name_hashes.h"

#include <cstdio>

namespace tavrin::platform {

namespace {

using detail::EntryFacts;

bool sameEntry(const EntryFacts& a, const EntryFacts& b) {
    return a.kind != EntryKind::None && b.kind != EntryKind::None && a.device == b.device &&
           a.file == b.file;
}

// A path the system would read shorter than its text (a NUL inside) names
// something other than what was recorded: nothing there is judged.
bool isWhole(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

// An entry, and whether it is a file that holds the mark alone.
struct Entry {
    explicit Entry(std::string at) : path(std::move(at)) {}

    std::string path;
    EntryFacts facts;
    bool marked = false;

    bool isFile() const { return facts.kind == EntryKind::File; }
    bool isEmptyFile() const { return isFile() && facts.size == 0; }
    // An empty or marked file: a reservation of the program's, when found under its own name.
    bool isReservation() const { return isEmptyFile() || marked; }
};

Status look(Entry& entry, std::string& failedPath) {
    entry.marked = false;
    failedPath = entry.path;
    if (auto s = detail::entryFacts(entry.path, entry.facts); !s.ok()) {
        return s;
    }
    if (!entry.isFile() || entry.facts.size != reservationMark.size()) {
        return Status::success();
    }
    std::string head;
    if (auto s = detail::readHead(entry.path, reservationMark.size() + 1, head); !s.ok()) {
        return s;
    }
    entry.marked = head == reservationMark;
    return Status::success();
}

// Whether `path` is the program's own leftover beside `other`: marked, a
// second name of the file `other` names, or an empty reservation whose aside
// name holds the proof, while `other` is a file of its own.
Status proveOwn(const std::string& path, const std::string& other, bool& own,
                std::string& failedPath) {
    own = false;
    if (!isWhole(path) || !isWhole(other)) {
        return Status::success();
    }
    Entry entry(path);
    if (auto s = look(entry, failedPath); !s.ok() || entry.facts.kind == EntryKind::None) {
        return s;
    }
    if (entry.marked) {
        own = true;
        return Status::success();
    }
    EntryFacts partner;
    failedPath = other;
    if (auto s = detail::entryFacts(other, partner); !s.ok()) {
        return s;
    }
    if (sameEntry(entry.facts, partner)) {
        own = path != other &&
              (entry.isFile() || entry.facts.kind == EntryKind::Link); // never one name twice
        return Status::success();
    }
    if (entry.isEmptyFile() && partner.kind != EntryKind::None) {
        Entry aside(asidePath(path));
        if (auto s = look(aside, failedPath); !s.ok()) {
            return s;
        }
        own = aside.isReservation();
    }
    return Status::success();
}

Status cannotMoveBack(const std::string& path, const Status& s) {
    const auto cut = path.find_last_of(separator() == '/' ? "/" : "\\/");
    return Status::failure("退避したファイルを元の名前 " +
                           path.substr(cut == std::string::npos ? 0 : cut + 1) + " に戻せません：" +
                           s.reason);
}

// After a failed look or removal: the reservation moved over its proof goes
// back, and the proof is made again, so that the next pass finds both as they
// were. Left aside, no later pass whose rename into `path` succeeds sees it.
Status putBackWithProof(const std::string& path, const std::string& aside, const Status& s) {
    if (detail::moveBack(aside, path).ok()) {
        Status error;
        if (const detail::FileHandle proof = detail::openForOutput(aside, &error);
            proof != detail::invalidHandle) {
            std::size_t written = 0;
            [[maybe_unused]] const Status marked =
                detail::writeAll(proof, reservationMark, written);
            detail::closeHandle(proof);
        }
    }
    return s;
}

// Settles the aside name of `path` (see tidyAsides); `pathRemoved` tells
// whether an empty reservation under `path` went with it.
Status tidyAside(const std::string& path, const std::string& other, std::string& failedPath,
                 bool* pathRemoved = nullptr) {
    if (!isWhole(path) || !isWhole(other)) {
        return Status::success();
    }
    Entry aside(asidePath(path));
    if (auto s = look(aside, failedPath); !s.ok() || aside.facts.kind == EntryKind::None) {
        return s;
    }
    EntryFacts partner;
    failedPath = other;
    if (auto s = detail::entryFacts(other, partner); !s.ok()) {
        return s;
    }
    // A second name goes: the file keeps another, whichever pair's it was.
    const bool secondName = (aside.isFile() || aside.facts.kind == EntryKind::Link) &&
                            (sameEntry(aside.facts, partner) || aside.facts.links > 1);
    if (!aside.isReservation() && !secondName) {
        // A file moved aside by a removal cut short, the check undone: it goes back.
        if (auto s = detail::moveBack(aside.path, path); !s.ok()) {
            failedPath = aside.path;
            return cannotMoveBack(path, s);
        }
        return Status::success();
    }
    if (aside.isReservation()) {
        Entry entry(path);
        if (auto s = look(entry, failedPath); !s.ok()) {
            return s;
        }
        if (entry.isEmptyFile() && partner.kind != EntryKind::None &&
            !sameEntry(entry.facts, partner)) {
            // The reservation of `path`, cut short before its own mark: it
            // takes the place of the proof, and goes if it is still empty.
            if (auto s = detail::moveToOwnName(path, aside.path, true); !s.ok()) {
                return s;
            }
            failedPath = aside.path;
            EntryFacts moved;
            if (auto s = detail::entryFacts(aside.path, moved); !s.ok()) {
                return putBackWithProof(path, aside.path, s);
            }
            if (moved.kind != EntryKind::File || moved.size != 0) {
                if (auto s = detail::moveBack(aside.path, path); !s.ok()) {
                    return cannotMoveBack(path, s);
                }
                return Status::success();
            }
            failedPath = aside.path;
            if (auto s = removeFile(aside.path); !s.ok()) {
                return putBackWithProof(path, aside.path, s);
            }
            if (pathRemoved != nullptr) {
                *pathRemoved = true;
            }
            return Status::success();
        }
    }
    failedPath = aside.path;
    return removeFile(aside.path);
}

} // namespace

std::string asidePath(const std::string& path) {
    const auto cut = path.find_last_of(separator() == '/' ? "/" : "\\/");
    const std::size_t start = cut == std::string::npos ? 0 : cut + 1;
    std::uint64_t hash = detail::hashStart;
    for (std::size_t i = start; i < path.size(); ++i) {
        hash = detail::hashStep(hash, static_cast<unsigned char>(path[i]));
    }
    char name[32];
    std::snprintf(name, sizeof name, ".tavrin-aside-%016llx",
                  static_cast<unsigned long long>(hash));
    return path.substr(0, start) + name;
}

Status entriesExist(const std::string& a, const std::string& b, bool& aThere, bool& bThere,
                    std::string& failedPath) {
    Status error;
    failedPath = a;
    aThere = entryExists(a, &error);
    bThere = false;
    if (error.ok()) {
        failedPath = b;
        bThere = entryExists(b, &error);
    }
    return error;
}

Status isOwnLeftover(const std::string& path, const std::string& other, bool& own,
                     std::string& failedPath) {
    return proveOwn(path, other, own, failedPath);
}

Status removeOwnLeftover(const std::string& path, const std::string& other, bool& removed,
                         std::string& failedPath) {
    removed = false;
    // The aside name must be free; settling it may already remove `path`.
    if (auto s = tidyAside(path, other, failedPath, &removed); !s.ok() || removed) {
        return s;
    }
    bool own = false;
    if (auto s = proveOwn(path, other, own, failedPath); !s.ok() || !own) {
        return s;
    }
    detail::Proof proof;
    proof.mark = true;
    proof.secondNameOf = &other;
    return detail::removeChecked(path, proof, removed, failedPath);
}

Status tidyAsides(const std::string& a, const std::string& b, std::string& failedPath) {
    if (auto s = tidyAside(a, b, failedPath); !s.ok()) {
        return s;
    }
    return tidyAside(b, a, failedPath);
}

namespace detail {

Status removeChecked(const std::string& path, const Proof& proof, bool& removed,
                     std::string& failedPath) {
    removed = false;
    Entry moved(asidePath(path));
    failedPath = path;
    if (auto s = moveToOwnName(path, moved.path, false); !s.ok()) {
        EntryFacts now;
        return entryFacts(path, now).ok() && now.kind == EntryKind::None ? Status::success() : s;
    }
    // What cannot be judged or removed goes back as it was: left aside, it
    // would be seen by no later pass whose rename into `path` succeeds.
    const auto putBack = [&](const Status& s) {
        [[maybe_unused]] const Status back = moveBack(moved.path, path);
        return s;
    };
    if (auto s = look(moved, failedPath); !s.ok()) {
        return putBack(s);
    }
    bool own = proof.mark && moved.marked;
    if (!own && proof.same != nullptr) {
        own = sameEntry(moved.facts, *proof.same) && moved.facts.size == proof.same->size;
    }
    if (!own && proof.secondNameOf != nullptr &&
        (moved.isFile() || moved.facts.kind == EntryKind::Link)) {
        EntryFacts partner;
        failedPath = *proof.secondNameOf;
        if (auto s = entryFacts(*proof.secondNameOf, partner); !s.ok()) {
            return s;
        }
        own = sameEntry(moved.facts, partner);
    }
    failedPath = moved.path;
    if (!own) {
        // Saved there by someone else since it was looked at: theirs.
        if (auto s = moveBack(moved.path, path); !s.ok()) {
            return cannotMoveBack(path, s);
        }
        return Status::success();
    }
    if (auto s = removeFile(moved.path); !s.ok()) {
        return putBack(s);
    }
    removed = true;
    return Status::success();
}

} // namespace detail

} // namespace tavrin::platform
