// rename_bench --files N [--dir D]
// Times a full rename run over N files against the raw loop it stands on (two
// line writes and one no-replace rename per file), and the restore of that run
// against its raw loop (one no-replace rename and two cuts of the history per
// file), in the same process, and prints the best of three rounds of each.
#include "engine/history.h"
#include "engine/rename_run.h"
#include "engine/tavrinM.h"
#include "platform/fs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdio.h>
#include <string>
#include <unistd.h>

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

void writeLine(int fd, const std::string& text) {
    const std::string line = text + "\r\n";
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        fail("write failed");
    }
}

// The system calls a run makes per file, with nothing around them.
double rawLoop(const std::string& folder, const std::vector<std::string>& names,
               const fs::path& prog) {
    const auto start = Clock::now();
    const int oldFd = ::open((prog / "Old.ini").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int newFd = ::open((prog / "New.ini").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (oldFd < 0 || newFd < 0) {
        fail("cannot open the history");
    }
    writeLine(oldFd, "-" + folder);
    writeLine(newFd, "-" + folder);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string newName = "raw" + std::to_string(i) + ".dat";
        writeLine(oldFd, names[i]);
        writeLine(newFd, newName);
        if (::renameat2(AT_FDCWD, (folder + names[i]).c_str(), AT_FDCWD, (folder + newName).c_str(),
                        RENAME_NOREPLACE) != 0) {
            fail(std::string("rename failed: ") + std::strerror(errno));
        }
    }
    ::close(oldFd);
    ::close(newFd);
    return secondsSince(start);
}

// The system calls a restore makes per file: the renames last first, each
// followed by cutting its pair off both history files, which the raw run wrote.
double rawRestore(const std::string& folder, const std::vector<std::string>& names,
                  const fs::path& prog) {
    const auto start = Clock::now();
    const int oldFd = ::open((prog / "Old.ini").c_str(), O_RDWR);
    const int newFd = ::open((prog / "New.ini").c_str(), O_RDWR);
    if (oldFd < 0 || newFd < 0) {
        fail("cannot open the history");
    }
    std::vector<off_t> oldStart, newStart;
    off_t oldSize = static_cast<off_t>(folder.size() + 3), newSize = oldSize;
    for (std::size_t i = 0; i < names.size(); ++i) {
        oldStart.push_back(oldSize);
        newStart.push_back(newSize);
        oldSize += static_cast<off_t>(names[i].size() + 2);
        newSize += static_cast<off_t>(("raw" + std::to_string(i) + ".dat").size() + 2);
    }
    for (std::size_t i = names.size(); i-- > 0;) {
        const std::string from = folder + "raw" + std::to_string(i) + ".dat";
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, (folder + names[i]).c_str(),
                        RENAME_NOREPLACE) != 0 ||
            ::ftruncate(oldFd, oldStart[i]) != 0 || ::ftruncate(newFd, newStart[i]) != 0) {
            fail(std::string("raw restore failed: ") + std::strerror(errno));
        }
    }
    ::close(oldFd);
    ::close(newFd);
    ::unlink((prog / "New.ini").c_str());
    ::unlink((prog / "Old.ini").c_str());
    return secondsSince(start);
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
    const fs::path root = base / ("tavrin-bench-" + std::to_string(::getpid()));
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
        const int fd = ::open((dir / name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0) {
            fail("cannot create the files");
        }
        ::close(fd);
    }
    std::printf("files: %ld in %s (created in %.1f s)\n", count, dir.c_str(), secondsSince(start));

    // The best of a few rounds of each, taken in turn, so that neither loop gains
    // from the caches the other warmed. Each restore brings back the original names.
    constexpr int rounds = 3;
    tavrin::RunActions noActions;
    double run = 1e300, raw = 1e300, undo = 1e300, rawUndo = 1e300;
    const std::string folder = dir.string() + "/";
    for (int round = 0; round < rounds; ++round) {
        start = Clock::now();
        if (tavrin::RenameRun(in, noActions) != tavrin::RunEnding::Completed) {
            fail("the rename run did not complete");
        }
        run = std::min(run, secondsSince(start));
        undo = std::min(undo, restore());
        raw = std::min(raw, rawLoop(folder, in.Files, prog));
        rawUndo = std::min(rawUndo, rawRestore(folder, in.Files, prog));
    }

    const auto perFile = [count](double seconds) {
        return seconds * 1e6 / static_cast<double>(count);
    };
    std::printf("run: %.2f us/file\n", perFile(run));
    std::printf("raw: %.2f us/file (2 line writes + 1 no-replace rename)\n", perFile(raw));
    std::printf("restore: %.2f us/file\n", perFile(undo));
    std::printf("raw restore: %.2f us/file (1 no-replace rename + 2 cuts)\n", perFile(rawUndo));
    fs::remove_all(root);
    std::printf("restore ratio: %.3f\n", undo / rawUndo);
    std::printf("ratio: %.3f\n", run / raw);
    return 0;
}
