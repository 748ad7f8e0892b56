// window_bench --files N [--dir D] [--rounds R]
// Drives the main window offscreen over a folder of N files and times what a
// user waits for: the folder change until the file list shows the folder, Get,
// and Start until the end of the run. In the same process it times what those
// stand on: a bare listing of the folder (read the directory, sort the names)
// and the engine's rename run alone over a fresh copy of the same folder.
// Each figure is the best of R rounds (default 4); the run from the window and
// the engine's run alone are timed in processor time too, which a busy machine
// disturbs less.
#include "bench/raw_loop.h"
#include "engine/history.h"
#include "engine/rename_run.h"
#include "engine/tavrinM.h"
#include "platform/fs.h"
#include "platform/gui/lists.h"
#include "ui/main/forms.h"
#include "ui/main/main_window.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using tavrin::ui::MainWindow;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "window_bench: %s\n", what.c_str());
    std::exit(1);
}

void createFiles(const fs::path& folder, long count) {
    fs::create_directories(folder);
    for (long i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file%07ld.dat", i);
        const int fd = ::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0) {
            fail("cannot create the files");
        }
        ::close(fd);
    }
}

// Reads the directory and sorts the names, nothing more.
double bareListing(const fs::path& folder, long expected) {
    const auto start = Clock::now();
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) {
        fail("cannot read the folder");
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.emplace_back(e->d_name);
        }
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    const double seconds = secondsSince(start);
    if (static_cast<long>(names.size()) != expected) {
        fail("the bare listing found " + std::to_string(names.size()) + " names");
    }
    return seconds;
}

void settle() {
    QApplication::processEvents();
}

// Opens `folder` in the folder list, as a double-click on it would, and waits
// until the window has painted what it shows.
double folderChange(MainWindow& w, const fs::path& folder, long expected) {
    const auto start = Clock::now();
    if (!w.Dir1->setPath(folder.string()).ok()) {
        fail("the folder list cannot open " + folder.string());
    }
    settle();
    const double seconds = secondsSince(start);
    if (w.File1->listCount() != expected) {
        fail("the file list shows " + std::to_string(w.File1->listCount()) + " files");
    }
    return seconds;
}

double get(MainWindow& w) {
    const auto start = Clock::now();
    w.CoGet->click();
    settle();
    const double seconds = secondsSince(start);
    if (w.GetCN->count() != 1 || w.GetCNText() != "dat") {
        fail("Get did not collect the one extension");
    }
    return seconds;
}

void restoreLastRun() {
    tavrinM::SetHistoryPaths();
    const tavrin::RestoreResult r = tavrin::RestoreNames();
    if (r.problem != tavrin::RestoreResult::Problem::None || !r.failed.empty()) {
        fail("the restore between rounds failed");
    }
}

} // namespace

int main(int argc, char** argv) {
    long count = 10000;
    int rounds = 4;
    fs::path base = fs::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
            count = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            base = argv[++i];
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: window_bench --files N [--dir D] [--rounds R]\n");
            return 2;
        }
    }
    if (count <= 0) {
        fail("--files needs a positive count");
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    const fs::path root =
        fs::absolute(base) / ("tavrin-window-bench-" + std::to_string(::getpid()));
    const fs::path shown = root / "files";
    const fs::path copy = root / "copy";
    const fs::path prog = root / "prog";
    fs::create_directories(prog);
    const auto created = Clock::now();
    createFiles(shown, count);
    createFiles(copy, count);
    std::printf("files: %ld in %s, the same in %s (created in %.1f s)\n", count, shown.c_str(),
                copy.c_str(), secondsSince(created));

    tavrin::platform::setProgramFolderForTesting(prog.string());
    std::vector<std::string> messages;
    tavrinM::setMessageFunction([&messages](const std::string& text) { messages.push_back(text); });
    MainWindow* w = tavrin::ui::forms::loadMainWindow();
    w->showCentred();
    settle();

    double listing = 1e300, change = 1e300, collect = 1e300, start = 1e300, engine = 1e300;
    double startProcessor = 1e300, engineProcessor = 1e300;
    for (int round = 0; round < rounds; ++round) {
        if (!w->Dir1->setPath(root.string()).ok()) {
            fail("the folder list cannot open " + root.string());
        }
        settle();
        listing = std::min(listing, bareListing(shown, count));
        change = std::min(change, folderChange(*w, shown, count));
        collect = std::min(collect, get(*w));

        // Start to the end of the run, with the run's own yields and repaints.
        const auto fromTheWindow = [&] {
            w->NewNa->setText(QStringLiteral("b"));
            messages.clear();
            const double cpu = tavrin::bench::processorSeconds();
            const auto t = Clock::now();
            w->StrB->click();
            settle();
            start = std::min(start, secondsSince(t));
            startProcessor = std::min(startProcessor, tavrin::bench::processorSeconds() - cpu);
            if (messages != std::vector<std::string>{"変更完了"}) {
                fail("the run from the window did not complete");
            }
            restoreLastRun();
        };
        // The engine alone, over the copy, with the names the file list showed.
        const auto engineAlone = [&] {
            tavrin::FixedRunInputs in;
            in.Folder = copy.string();
            in.Base = "b";
            in.SelectedExt = "dat";
            in.Files = tavrin::platform::listFiles(copy.string(), "*.dat");
            tavrin::RunActions noActions;
            const double cpu = tavrin::bench::processorSeconds();
            const auto t = Clock::now();
            if (tavrin::RenameRun(in, noActions) != tavrin::RunEnding::Completed) {
                fail("the engine's run did not complete");
            }
            engine = std::min(engine, secondsSince(t));
            engineProcessor = std::min(engineProcessor, tavrin::bench::processorSeconds() - cpu);
            restoreLastRun();
        };
        // Each goes first in turn, so neither gains from the caches the other warmed.
        if (round % 2 == 0) {
            fromTheWindow();
            engineAlone();
        } else {
            engineAlone();
            fromTheWindow();
        }
    }

    const auto ms = [](double s) { return s * 1e3; };
    std::printf("bare listing: %.1f ms\n", ms(listing));
    std::printf("folder change: %.1f ms\n", ms(change));
    std::printf("get: %.1f ms\n", ms(collect));
    std::printf("engine run: %.1f ms (processor %.1f ms)\n", ms(engine), ms(engineProcessor));
    std::printf("start to end: %.1f ms (processor %.1f ms)\n", ms(start), ms(startProcessor));
    std::printf("processor time ratio: %.3f\n", startProcessor / engineProcessor);
    std::printf("list_ratio: %.3f\n", change / listing);
    std::printf("get_ratio: %.3f\n", collect / change);
    tavrin::ui::forms::unloadMainWindow();
    fs::remove_all(root);
    std::printf("ratio: %.3f\n", start / engine);
    return 0;
}
