// rename_bench --files N [--dir D]
// Times a full rename run over N files, its history made durable batch by
// batch ahead of the renames, against the raw loop it stands on without any
// sync (two line writes and one no-replace rename per file), and the restore
// of that run against its raw loop (one no-replace rename and two cuts of the
// history per file), in the same process, and prints the best of three rounds
// of each, with the batches and the time the best run spent in syncs, and
// whether the run knew free names from a watch of the folder or looked each up.
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
#include <string>

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

double restore() {
    const auto start = Clock::now();
    tavrinM::SetHistoryPaths();
    const tavrin::RestoreResult r = tavrin::RestoreNames();
    if (r.problem != tavrin::RestoreResult::Problem::None || !r.failed.empty()) {
        fail("the restore failed");
    }
    return secondsSince(start);
}

double timed(double seconds, const char* what) {
    if (seconds < 0) {
        fail(std::string("the raw ") + what + " failed");
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    long count = 10000;
    fs::path base = fs::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
            count = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            base = argv[++i];
        } else {
            std::fprintf(stderr, "usage: rename_bench --files N [--dir D]\n");
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
    std::printf("free names: %s\n", tavrin::platform::FolderEntries(dir.string()).watching()
                                        ? "known from a watch of the folder"
                                        : "looked up one by one");

    // The best of a few rounds of each, taken in turn, so that neither loop gains
    // from the caches the other warmed. Each restore brings back the original names.
    constexpr int rounds = 3;
    tavrin::RunActions noActions;
    double run = 1e300, raw = 1e300, undo = 1e300, rawUndo = 1e300;
    tavrin::RunFigures best;
    const std::string folder = dir.string() + tavrin::platform::separator();
    for (int round = 0; round < rounds; ++round) {
        start = Clock::now();
        if (tavrin::RenameRun(in, noActions) != tavrin::RunEnding::Completed) {
            fail("the rename run did not complete");
        }
        if (const double seconds = secondsSince(start); seconds < run) {
            run = seconds;
            best = tavrin::lastRunFigures();
        }
        undo = std::min(undo, restore());
        raw = std::min(raw, timed(tavrin::bench::rawLoop(folder, in.Files, prog.string()), "loop"));
        rawUndo = std::min(
            rawUndo, timed(tavrin::bench::rawRestore(folder, in.Files, prog.string()), "restore"));
    }

    const auto perFile = [count](double seconds) {
        return seconds * 1e6 / static_cast<double>(count);
    };
    std::printf("run: %.2f us/file, %ld batches, %.1f ms in syncs (%ld of a history file, %ld of "
                "the history folder, %ld of the renamed files' folder)\n",
                perFile(run), best.batches, best.syncSeconds * 1e3, best.fileSyncs,
                best.folderSyncs, best.userFolderSyncs);
    std::printf("raw: %.2f us/file (2 line writes + 1 no-replace rename, %s, no sync)\n",
                perFile(raw), tavrin::bench::rawCalls);
    std::printf("restore: %.2f us/file\n", perFile(undo));
    std::printf("raw restore: %.2f us/file (1 no-replace rename + 2 cuts)\n", perFile(rawUndo));
    fs::remove_all(root);
    std::printf("restore ratio: %.3f\n", undo / rawUndo);
    std::printf("ratio: %.3f\n", run / raw);
    return 0;
}
