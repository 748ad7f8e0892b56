#include "bench/raw_loop.h"

#include "platform/win32_text.h"

#include <windows.h>

#include <chrono>

namespace tavrin::bench {

namespace {

using platform::detail::toWide;

bool writeLine(HANDLE file, const std::string& text) {
    const std::string line = text + "\r\n";
    DWORD written = 0;
    return WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

HANDLE create(const std::string& path, DWORD disposition) {
    return CreateFileW(toWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

const char* const rawCalls = "WriteFile, MoveFileExW without replacing";

double rawLoop(const std::string& folder, const std::vector<std::string>& names,
               const std::string& prog) {
    const auto start = std::chrono::steady_clock::now();
    HANDLE oldFile = create(prog + "\\Old.ini", CREATE_ALWAYS);
    HANDLE newFile = create(prog + "\\New.ini", CREATE_ALWAYS);
    bool ok = oldFile != INVALID_HANDLE_VALUE && newFile != INVALID_HANDLE_VALUE &&
              writeLine(oldFile, "-" + folder) && writeLine(newFile, "-" + folder);
    for (std::size_t i = 0; ok && i < names.size(); ++i) {
        const std::string newName = "raw" + std::to_string(i) + ".dat";
        ok = writeLine(oldFile, names[i]) && writeLine(newFile, newName) &&
             MoveFileExW(toWide(folder + names[i]).c_str(), toWide(folder + newName).c_str(), 0);
    }
    CloseHandle(oldFile);
    CloseHandle(newFile);
    return ok ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              : -1;
}

double rawRestore(const std::string& folder, const std::vector<std::string>& names,
                  const std::string& prog) {
    const auto start = std::chrono::steady_clock::now();
    const auto open = [](const std::string& path) {
        return CreateFileW(toWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    const auto cut = [](HANDLE file, std::uint64_t size) {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(size);
        return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    };
    HANDLE oldFile = open(prog + "\\Old.ini");
    HANDLE newFile = open(prog + "\\New.ini");
    bool ok = oldFile != INVALID_HANDLE_VALUE && newFile != INVALID_HANDLE_VALUE;
    const std::vector<RawPair> pairs = rawPairs(folder, names);
    for (std::size_t i = names.size(); ok && i-- > 0;) {
        ok = MoveFileExW(toWide(folder + pairs[i].newName).c_str(),
                         toWide(folder + names[i]).c_str(), 0) &&
             cut(oldFile, pairs[i].oldStart) && cut(newFile, pairs[i].newStart);
    }
    CloseHandle(oldFile);
    CloseHandle(newFile);
    ok = ok && DeleteFileW(toWide(prog + "\\New.ini").c_str()) &&
         DeleteFileW(toWide(prog + "\\Old.ini").c_str());
    return ok ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              : -1;
}

double bareRenames(const std::vector<std::string>& from, const std::vector<std::string>& to) {
    std::vector<std::wstring> wideFrom, wideTo;
    wideFrom.reserve(from.size());
    wideTo.reserve(to.size());
    for (std::size_t i = 0; i < from.size(); ++i) {
        wideFrom.push_back(toWide(from[i]));
        wideTo.push_back(toWide(to[i]));
    }
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < wideFrom.size(); ++i) {
        if (!MoveFileExW(wideFrom[i].c_str(), wideTo[i].c_str(), 0)) {
            return -1;
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double bareRenamesIn(const std::string& folder, const std::vector<std::string>& from,
                     const std::vector<std::string>& to) {
    std::vector<std::string> fromPaths, toPaths;
    for (std::size_t i = 0; i < from.size(); ++i) {
        fromPaths.push_back(folder + from[i]);
        toPaths.push_back(folder + to[i]);
    }
    return bareRenames(fromPaths, toPaths);
}

double processorSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

bool createEmptyFile(const std::string& path) {
    HANDLE file = create(path, CREATE_NEW);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

long processId() {
    return static_cast<long>(GetCurrentProcessId());
}

} // namespace tavrin::bench
