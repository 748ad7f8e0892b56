// restore_bench --pairs N [--dir D] [--rounds R] [--unrestorable]
// Times the undo of a run of N renames and the confirmation that shows it, each
// in a process of its own so that its peak memory is its own: creates N files,
// renames them with the raw loop (which records each pair as a run does), then
// measures in turn the restore, the raw restore it stands on (one no-replace
// rename and two cuts of the history per pair), the bare renames back (one
// no-replace rename per pair and nothing else) and the confirmation loaded and
// painted offscreen. Prints the best time of R rounds (default 1) and the peak
// memory of each, with the processor time (user and system) each took, which a
// busy machine disturbs less than the time, and last `restore/bare: X` and
// `restore ratio: X` (restore over bare renames, and over raw restore).
// With --unrestorable, last also the restore of the same pairs once their
// folder was moved away, so that it keeps every pair, and its ratio to the
// restore.
#include "bench/raw_loop.h"
#include "engine/history.h"
#include "engine/tavrinM.h"
#include "platform/fs.h"
#include "ui/restore/restore_dialog.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "restore_bench: %s\n", what.c_str());
    std::exit(1);
}

std::vector<std::string> fileNames(long count) {
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file%07ld.dat", i);
        names.emplace_back(name);
    }
    return names;
}

// One measurement, in the child: prints the seconds it took on stdout.
int measure(const std::string& what, const fs::path& root, long count, int argc, char** argv) {
    const fs::path prog = root / "prog";
    const std::string folder = (root / "files").string() + tavrin::platform::separator();
    tavrin::platform::setProgramFolderForTesting(prog.string());
    tavrinM::setMessageFunction([](const std::string&) {});
    double seconds = -1;
    std::vector<std::string> from, to;
    if (what == "bare") {
        const std::vector<std::string> names = fileNames(count);
        const std::vector<tavrin::bench::RawPair> pairs = tavrin::bench::rawPairs(folder, names);
        for (std::size_t i = names.size(); i-- > 0;) {
            from.push_back(folder + pairs[i].newName);
            to.push_back(folder + names[i]);
        }
    }
    const double processorStart = tavrin::bench::processorSeconds();
    if (what == "raw") {
        const std::vector<std::string> names = fileNames(count);
        seconds = tavrin::bench::rawRestore(folder, names, prog.string());
    } else if (what == "bare") {
        seconds = tavrin::bench::bareRenames(from, to);
    } else if (what == "restore" || what == "kept") {
        const auto start = Clock::now();
        tavrinM::SetHistoryPaths();
        const tavrin::RestoreResult r = tavrin::RestoreNames();
        const long kept = what == "kept" ? count : 0;
        if (r.problem == tavrin::RestoreResult::Problem::None &&
            static_cast<long>(r.failed.size()) == kept && r.restored == count - kept) {
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
        }
    } else if (what == "dialog") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        const auto start = Clock::now();
        tavrin::ui::RestoreDialog dialog({});
        dialog.showCentred();
        const QPixmap painted = dialog.grab();
        if (!painted.isNull()) {
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
        }
    }
    std::printf("%.6f %.6f\n", seconds, tavrin::bench::processorSeconds() - processorStart);
    return seconds < 0 ? 1 : 0;
}

struct Measured {
    double seconds;
    double peakMB;
    double cpuSeconds;
};

// Runs this program again to measure `what`: its time and processor time, and
// its peak resident memory.
Measured inChild(const char* what, const fs::path& root, long count) {
    int out[2];
    if (::pipe(out) != 0) {
        fail("no pipe");
    }
    const std::string countText = std::to_string(count);
    const std::string rootText = root.string();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl("/proc/self/exe", "restore_bench", "--measure", what, "--dir", rootText.c_str(),
                "--pairs", countText.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        fail(std::string("measuring the ") + what + " failed");
    }
    Measured measured{0, static_cast<double>(usage.ru_maxrss) / 1024.0, 0};
    if (std::sscanf(text.c_str(), "%lf %lf", &measured.seconds, &measured.cpuSeconds) != 2) {
        fail(std::string("measuring the ") + what + " gave no figures");
    }
    return measured;
}

} // namespace

int main(int argc, char** argv) {
    long count = 1000000;
    int rounds = 1;
    bool unrestorable = false;
    fs::path base = fs::temp_directory_path();
    std::string child;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pairs") == 0 && i + 1 < argc) {
            count = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            base = argv[++i];
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--unrestorable") == 0) {
            unrestorable = true;
        } else if (std::strcmp(argv[i], "--measure") == 0 && i + 1 < argc) {
            child = argv[++i];
        } else {
            std::fprintf(
                stderr, "usage: restore_bench --pairs N [--dir D] [--rounds R] [--unrestorable]\n");
            return 2;
        }
    }
    if (count <= 0) {
        fail("--pairs needs a positive count");
    }
    if (!child.empty()) {
        return measure(child, base, count, argc, argv);
    }

    const fs::path root = base / ("tavrin-restore-bench-" + std::to_string(::getpid()));
    const fs::path dir = root / "files";
    const fs::path prog = root / "prog";
    fs::create_directories(dir);
    fs::create_directories(prog);
    const std::vector<std::string> names = fileNames(count);
    for (const std::string& name : names) {
        if (!tavrin::bench::createEmptyFile((dir / name).string())) {
            fail("cannot create the files");
        }
    }
    const std::string folder = dir.string() + tavrin::platform::separator();
    // Each measurement starts from the files renamed and their pairs on record.
    const auto renamed = [&] {
        if (tavrin::bench::rawLoop(folder, names, prog.string()) < 0) {
            fail("the raw loop failed");
        }
    };
    std::printf("pairs: %ld in %s\n", count, dir.string().c_str());
    Measured restore{1e300, 0, 1e300}, raw{1e300, 0, 1e300}, bare{1e300, 0, 1e300},
        dialog{1e300, 0, 1e300}, kept{1e300, 0, 1e300};
    const auto best = [](Measured& best, Measured now) {
        best = {std::min(best.seconds, now.seconds), std::max(best.peakMB, now.peakMB),
                std::min(best.cpuSeconds, now.cpuSeconds)};
    };
    for (int round = 0; round < rounds; ++round) {
        renamed();
        best(restore, inChild("restore", root, count));
        renamed();
        best(raw, inChild("raw", root, count));
        renamed();
        best(bare, inChild("bare", root, count));
        renamed();
        best(dialog, inChild("dialog", root, count));
        if (tavrin::bench::rawRestore(folder, names, prog.string()) < 0) {
            fail("the raw restore failed");
        }
        if (unrestorable) {
            // The folder moved away: every pair is kept, and the history holds them again.
            renamed();
            fs::rename(dir, root / "moved");
            best(kept, inChild("kept", root, count));
            fs::rename(root / "moved", dir);
            if (tavrin::bench::rawRestore(folder, names, prog.string()) < 0) {
                fail("the raw restore failed");
            }
        }
    }
    fs::remove_all(root);

    std::printf("restore: %.2f s (processor %.2f s), peak %.0f MB\n", restore.seconds,
                restore.cpuSeconds, restore.peakMB);
    std::printf("raw restore: %.2f s (processor %.2f s), peak %.0f MB (1 no-replace rename + 2 "
                "cuts per pair)\n",
                raw.seconds, raw.cpuSeconds, raw.peakMB);
    std::printf("bare restore: %.2f s (processor %.2f s), peak %.0f MB (1 no-replace rename per "
                "pair, nothing else)\n",
                bare.seconds, bare.cpuSeconds, bare.peakMB);
    std::printf("confirmation: %.2f s to open and paint, peak %.0f MB\n", dialog.seconds,
                dialog.peakMB);
    std::printf("processor time: restore/raw %.3f, restore/bare %.3f\n",
                restore.cpuSeconds / raw.cpuSeconds, restore.cpuSeconds / bare.cpuSeconds);
    std::printf("restore/bare: %.3f\n", restore.seconds / bare.seconds);
    std::printf("restore ratio: %.3f\n", restore.seconds / raw.seconds);
    if (unrestorable) {
        std::printf("restore keeping every pair: %.2f s (processor %.2f s), peak %.0f MB; "
                    "%.3f of the restore's time, %.3f of its processor time\n",
                    kept.seconds, kept.cpuSeconds, kept.peakMB, kept.seconds / restore.seconds,
                    kept.cpuSeconds / restore.cpuSeconds);
    }
    return 0;
}
