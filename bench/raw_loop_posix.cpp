#include "bench/raw_loop.h"

#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace tavrin::bench {

namespace {

bool writeLine(int fd, const std::string& text) {
    const std::string line = text + "\r\n";
    return ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

} // namespace

const char* const rawCalls = "write, renameat2 RENAME_NOREPLACE";

double rawLoop(const std::string& folder, const std::vector<std::string>& names,
               const std::string& prog) {
    const auto start = std::chrono::steady_clock::now();
    const int oldFd = ::open((prog + "/Old.ini").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int newFd = ::open((prog + "/New.ini").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    bool ok = oldFd >= 0 && newFd >= 0 && writeLine(oldFd, "-" + folder) &&
              writeLine(newFd, "-" + folder);
    for (std::size_t i = 0; ok && i < names.size(); ++i) {
        const std::string newName = "raw" + std::to_string(i) + ".dat";
        ok = writeLine(oldFd, names[i]) && writeLine(newFd, newName) &&
             ::renameat2(AT_FDCWD, (folder + names[i]).c_str(), AT_FDCWD,
                         (folder + newName).c_str(), RENAME_NOREPLACE) == 0;
    }
    ::close(oldFd);
    ::close(newFd);
    return ok ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              : -1;
}

double rawRestore(const std::string& folder, const std::vector<std::string>& names,
                  const std::string& prog) {
    const auto start = std::chrono::steady_clock::now();
    const int oldFd = ::open((prog + "/Old.ini").c_str(), O_RDWR);
    const int newFd = ::open((prog + "/New.ini").c_str(), O_RDWR);
    bool ok = oldFd >= 0 && newFd >= 0;
    const std::vector<RawPair> pairs = rawPairs(folder, names);
    for (std::size_t i = names.size(); ok && i-- > 0;) {
        ok = ::renameat2(AT_FDCWD, (folder + pairs[i].newName).c_str(), AT_FDCWD,
                         (folder + names[i]).c_str(), RENAME_NOREPLACE) == 0 &&
             ::ftruncate(oldFd, static_cast<off_t>(pairs[i].oldStart)) == 0 &&
             ::ftruncate(newFd, static_cast<off_t>(pairs[i].newStart)) == 0;
    }
    ::close(oldFd);
    ::close(newFd);
    ok = ok && ::unlink((prog + "/New.ini").c_str()) == 0 &&
         ::unlink((prog + "/Old.ini").c_str()) == 0;
    return ok ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              : -1;
}

double bareRenames(const std::vector<std::string>& from, const std::vector<std::string>& to) {
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (::renameat2(AT_FDCWD, from[i].c_str(), AT_FDCWD, to[i].c_str(), RENAME_NOREPLACE) !=
            0) {
            return -1;
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double bareRenamesIn(const std::string& folder, const std::vector<std::string>& from,
                     const std::vector<std::string>& to) {
    const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (::renameat2(fd, from[i].c_str(), fd, to[i].c_str(), RENAME_NOREPLACE) != 0) {
            ::close(fd);
            return -1;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    return seconds;
}

double processorSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool createEmptyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

long processId() {
    return static_cast<long>(::getpid());
}

} // namespace tavrin::bench
