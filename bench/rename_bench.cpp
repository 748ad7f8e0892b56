// rename_bench --files N [--dir D] [--rounds R]
// Times a full rename run over N files, its history made durable batch by
// batch ahead of the renames, against the raw loop it stands on without any
// sync (two line writes and one no-replace rename per file) and against the
// bare renames (one no-replace rename per file and nothing else, by path and
// by name within the folder held open, as the run renames), and the
// restore of that run against its raw loop (one no-replace rename and two cuts
// of the history per file) and its bare renames back, in the same process.
// Prints the best of R rounds (default 3) of each, time and processor time apart,
// with the batches and the time the best run spent in syncs, and whether the
// run knew free names from a watch of the folder or looked each up.
#include "bench/raw_loop.h"
#include "engine/history.h"
#include "engine/rename_run.h"
#include "engine/tavrinM.h"
#include "platform/fs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "rename_bench: %s\n", what.c_str());
    std::exit(1);
}

// Times `body`: seconds, or -1 when it answered false.
double timedRun(const std::function<bool()>& body) {
    const auto start = Clock::now();
    return body() ? secondsSince(start) : -1;
}

// The best time and the least processor time of a few rounds of one loop.
struct Best {
    double seconds = 1e300, processor = 1e300;

    // `loop` answers the seconds it took, negative when it failed; true when
    // this round is the best so far.
    bool take(const std::function<double()>& loop, const char* what) {
        const double cpuStart = tavrin::bench::processorSeconds();
        const double took = loop();
        const double cpu = tavrin::bench::processorSeconds() - cpuStart;
        if (took < 0) {
            fail(std::string("the ") + what + " failed");
        }
        processor = std::min(processor, cpu);
        if (took < seconds) {
            seconds = took;
            return true;
        }
        return false;
    }
};

bool restore() {
    tavrinM::SetHistoryPaths();
    const tavrin::RestoreResult r = tavrin::RestoreNames();
    return r.problem == tavrin::RestoreResult::Problem::None && r.failed.empty();
}

} // namespace

int main(int argc, char** argv) {
    long count = 10000;
    int rounds = 3;
    fs::path base = fs::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
            count = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            base = argv[++i];
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: rename_bench --files N [--dir D] [--rounds R]\n");
            return 2;
        }
    }
    if (count <= 0) {
        fail("--files needs a positive count");
    }
    const fs::path root = base / ("tavrin-bench-" + std::to_string(tavrin::bench::processId()));
    const fs::path dir = root / "files";
    const fs::path prog = root / "prog";
    fs::create_directories(dir);
    fs::create_directories(prog);
    tavrin::platform::setProgramFolderForTesting(prog.string());
    tavrinM::setMessageFunction([](const std::string&) {});

    tavrin::FixedRunInputs in;
    in.Folder = dir.string();
    in.Base = "b";
    in.SelectedExt = "dat";
    auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file%07ld.dat", i);
        in.Files.emplace_back(name);
        if (!tavrin::bench::createEmptyFile((dir / name).string())) {
            fail("cannot create the files");
        }
    }
    std::printf("files: %ld in %s (created in %.1f s)\n", count, dir.string().c_str(),
                secondsSince(start));

    // The bare renames give each file the name the run gives it, and back.
    const std::string folder = dir.string() + tavrin::platform::separator();
    // The same by name alone, within the folder held open, as the run renames.
    std::vector<std::string> oldPaths, newPaths, newNames;
    for (long i = 0; i < count; ++i) {
        newNames.push_back(in.Base + std::to_string(i) + "." + in.SelectedExt);
        oldPaths.push_back(folder + in.Files[static_cast<std::size_t>(i)]);
        newPaths.push_back(folder + newNames.back());
    }
    const std::vector<std::string> newBack(newPaths.rbegin(), newPaths.rend());
    const std::vector<std::string> oldBack(oldPaths.rbegin(), oldPaths.rend());
    const std::vector<std::string> newNamesBack(newNames.rbegin(), newNames.rend());
    const std::vector<std::string> oldNamesBack(in.Files.rbegin(), in.Files.rend());

    // The best of a few rounds of each, taken in turn, so that no loop gains
    // from the caches another warmed. Each restore brings back the original names.
    tavrin::RunActions noActions;
    Best run, raw, bare, undo, rawUndo, bareUndo, held, heldUndo;
    tavrin::RunFigures best;
    for (int round = 0; round < rounds; ++round) {
        const auto renameRun = [&] {
            return timedRun(
                [&] { return tavrin::RenameRun(in, noActions) == tavrin::RunEnding::Completed; });
        };
        if (run.take(renameRun, "rename run")) {
            best = tavrin::lastRunFigures();
        }
        undo.take([] { return timedRun(restore); }, "restore");
        raw.take([&] { return tavrin::bench::rawLoop(folder, in.Files, prog.string()); },
                 "raw loop");
        rawUndo.take([&] { return tavrin::bench::rawRestore(folder, in.Files, prog.string()); },
                     "raw restore");
        bare.take([&] { return tavrin::bench::bareRenames(oldPaths, newPaths); }, "bare renames");
        bareUndo.take([&] { return tavrin::bench::bareRenames(newBack, oldBack); },
                      "bare renames back");
        held.take([&] { return tavrin::bench::bareRenamesIn(folder, in.Files, newNames); },
                  "bare renames in the folder");
        heldUndo.take(
            [&] { return tavrin::bench::bareRenamesIn(folder, newNamesBack, oldNamesBack); },
            "bare renames back in the folder");
    }

    const auto perFile = [count](double seconds) {
        return seconds * 1e6 / static_cast<double>(count);
    };
    const auto print = [&](const char* what, const Best& b, const char* how) {
        std::printf("%s: %.2f us/file (processor %.2f us/file)%s\n", what, perFile(b.seconds),
                    perFile(b.processor), how);
    };
    print("run", run,
          best.namesWatched ? ", free names known from a watch of the folder"
                            : ", free names looked up one by one");
    std::printf("     %ld batches, %.1f ms in syncs (%ld of a history file, %ld of the history "
                "folder, %ld of the renamed files' folder)\n",
                best.batches, best.syncSeconds * 1e3, best.fileSyncs, best.folderSyncs,
                best.userFolderSyncs);
    const std::string rawHow = std::string(" 2 line writes + 1 no-replace rename, ") +
                               tavrin::bench::rawCalls + ", no sync";
    print("raw", raw, rawHow.c_str());
    print("bare", bare, " 1 no-replace rename, nothing else");
    print("restore", undo, "");
    print("raw restore", rawUndo, " 1 no-replace rename + 2 cuts");
    print("bare restore", bareUndo, " 1 no-replace rename back, nothing else");
    print("bare in folder", held, " the bare renames by name within the folder held open");
    print("bare restore in folder", heldUndo, " the same back");
    std::printf(
        "processor time: run/raw %.3f, run/bare %.3f, restore/raw %.3f, restore/bare %.3f\n",
        run.processor / raw.processor, run.processor / bare.processor,
        undo.processor / rawUndo.processor, undo.processor / bareUndo.processor);
    fs::remove_all(root);
    std::printf("restore/bare: %.3f\n", undo.seconds / bareUndo.seconds);
    std::printf("restore ratio: %.3f\n", undo.seconds / rawUndo.seconds);
    std::printf("restore/bare in folder: %.3f (processor %.3f)\n", undo.seconds / heldUndo.seconds,
                undo.processor / heldUndo.processor);
    std::printf("run/bare in folder: %.3f (processor %.3f)\n", run.seconds / held.seconds,
                run.processor / held.processor);
    std::printf("run/bare: %.3f\n", run.seconds / bare.seconds);
    std::printf("ratio: %.3f\n", run.seconds / raw.seconds);
    return 0;
}
