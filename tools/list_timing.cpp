// Times the folder and file lists on a large folder: list_timing [COUNT]
// Creates COUNT empty files (100,000 by default) in a temporary folder, then
// times a folder change in the folder list and a listing in the file list.
#include "platform/gui/lists.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long count = argc > 1 ? std::stol(argv[1]) : 100000;
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    const std::string big = root + "/big";
    QDir().mkpath(QString::fromStdString(big));
    for (long i = 0; i < count; ++i) {
        std::ofstream(big + "/File" + std::to_string(i) + (i % 2 ? ".txt" : ".JPG"));
    }

    tavrin::gui::FolderList dir;
    tavrin::gui::FileList file;
    dir.resize(120, 200);
    file.resize(120, 200);
    dir.show();
    file.show();
    dir.setPath(root);
    QElapsedTimer t;
    t.start();
    const bool dirOk = dir.setPath(big).ok();
    QApplication::processEvents();
    const qint64 dirMs = t.elapsed();
    t.restart();
    const bool fileOk = file.setPath(big).ok();
    QApplication::processEvents();
    const qint64 fileMs = t.elapsed();
    const long allListed = file.listCount();
    t.restart();
    file.setPattern("*.txt");
    QApplication::processEvents();
    const qint64 patternMs = t.elapsed();
    std::printf("%ld files: folder change %lld ms, file listing %lld ms (%ld listed), pattern "
                "*.txt %lld ms (%ld listed)\n",
                count, static_cast<long long>(dirMs), static_cast<long long>(fileMs), allListed,
                static_cast<long long>(patternMs), file.listCount());
    return dirOk && fileOk ? 0 : 1;
}
