// Cases that only the Windows build can show: the ANSI code page, file
// attributes, drive roots, the registry and the system's own clash codes.
#include "engine/rename_run.h"
#include "engine/sysinfo.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/fs_internal.h"
#include "platform/textfile.h"
#include "platform/win32_path.h"
#include "platform/win32_text.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace p = tavrin::platform;

std::wstring wide(const std::string& utf8) {
    return p::detail::toWide(utf8);
}

// A fresh folder under the system's temporary folder, UTF-8, ending in "\".
class WinFolder : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        std::wstring base = temp;
        base += L"tavrin-win-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount64());
        ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
        wbase = base + L"\\";
        folder = p::detail::toUtf8(wbase);
    }
    void TearDown() override {
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW((wbase + L"*").c_str(), &data);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring path = wbase + data.cFileName;
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            } while (FindNextFileW(h, &data));
            FindClose(h);
        }
        RemoveDirectoryW(wbase.c_str());
    }
    void make(const std::string& name, const std::string& content, DWORD attributes = 0) {
        HANDLE h = CreateFileW(wide(folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
        DWORD written = 0;
        WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(h);
        if (attributes != 0) {
            ASSERT_TRUE(SetFileAttributesW(wide(folder + name).c_str(), attributes));
        }
    }
    std::string read(const std::string& name) {
        std::string content;
        HANDLE h = CreateFileW(wide(folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return "<missing>";
        }
        char buf[256];
        DWORD n = 0;
        ReadFile(h, buf, sizeof buf, &n, nullptr);
        CloseHandle(h);
        return std::string(buf, n);
    }

    std::wstring wbase;
    std::string folder;
};

TEST(WindowsSystem, BuildRunsOnWindowsWithCodePage932) {
    EXPECT_EQ(p::separator(), '\\');
    // The script runs the suite in a Japanese locale: the ANSI code page is 932,
    // and the history code page follows it.
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_EQ(p::historyCodePage().number(), 932);
    std::string bytes;
    ASSERT_TRUE(p::historyCodePage().encode("写真.jpg", bytes));
    EXPECT_EQ(bytes, "\x8e\xca\x90\x5e.jpg");
    EXPECT_FALSE(p::historyCodePage().encode("\xf0\x9f\x98\x80.jpg", bytes)) << "emoji";
    EXPECT_FALSE(p::historyCodePage().encode("caf\xc3\xa9", bytes)) << "no best-fit e for é";
}

TEST(WindowsSystem, AbsoluteFolderNeedsDriveOrShareAndTrailingSeparator) {
    EXPECT_TRUE(p::isAbsoluteFolder("C:\\"));
    EXPECT_TRUE(p::isAbsoluteFolder("c:\\photos\\"));
    EXPECT_TRUE(p::isAbsoluteFolder("\\\\server\\share\\"));
    EXPECT_FALSE(p::isAbsoluteFolder("C:\\photos"));
    EXPECT_FALSE(p::isAbsoluteFolder("photos\\"));
    EXPECT_FALSE(p::isAbsoluteFolder("-name\\"));
}

// The form a path reaches the Win32 calls in: as it is while it is short, else
// made absolute, normalised as the system normalises a plain path (so that both
// forms name one file) and prefixed, which lifts the 260-character limit.
TEST(WindowsSystem, LongPathsReachTheSystemInTheirLongForm) {
    const std::wstring deep = L"C:\\" + std::wstring(250, L'd');
    const std::wstring below = L"C:\\" + std::wstring(p::detail::plainPathLimit - 4, L'b');
    const std::wstring share = L"\\\\server\\share\\" + std::wstring(250, L's');
    wchar_t current[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
    const std::wstring relative = std::wstring(250, L'r') + L"\\x.jpg";
    const std::wstring fromCurrent = std::wstring(current) + (current[3] != 0 ? L"\\" : L"");
    const std::wstring prefix = L"\\\\?\\";
    const struct {
        const char* what;
        std::wstring in, out;
    } rows[] = {
        {"short", L"C:\\写真\\a.jpg", L"C:\\写真\\a.jpg"},
        {"short, doubled separator kept", L"C:\\\\Old.ini", L"C:\\\\Old.ini"},
        {"drive root", L"C:\\", L"C:\\"},
        {"one below the limit", below, below},
        {"at the limit", below + L"b", prefix + below + L"b"},
        {"past it", deep + L"\\写真.jpg", prefix + deep + L"\\写真.jpg"},
        {"a folder keeps its separator", deep + L"\\", prefix + deep + L"\\"},
        {"share", share + L"\\a.jpg", prefix + L"UNC" + share.substr(1) + L"\\a.jpg"},
        {"relative, short", L"a.jpg", L"a.jpg"},
        {"relative, long", relative, prefix + fromCurrent + relative},
        {"forward slashes", L"C:/" + deep.substr(3) + L"/a.jpg", prefix + deep + L"\\a.jpg"},
        {"dot parts", deep + L"\\.\\sub\\..\\a.jpg", prefix + deep + L"\\a.jpg"},
        {"doubled separator", deep + L"\\\\a.jpg", prefix + deep + L"\\a.jpg"},
        {"trailing dot", deep + L"\\a.", prefix + deep + L"\\a"},
        {"already long, not normalised", prefix + deep + L"\\.\\a.", prefix + deep + L"\\.\\a."},
        {"a device", L"\\\\.\\" + deep.substr(3), L"\\\\.\\" + deep.substr(3)},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(p::detail::win32Path(row.in), row.out) << row.what;
    }
    EXPECT_EQ(p::detail::win32Path(p::detail::toUtf8(deep)), prefix + deep) << "from UTF-8";
}

// A drive root as program folder keeps its separator, so the history path
// there holds two of them; the system still finds the file.
TEST(WindowsSystem, DriveRootProgramFolderGivesHistoryPathWithTwoSeparators) {
    p::setProgramFolderForTesting("C:\\");
    tavrinM::SetHistoryPaths();
    p::setProgramFolderForTesting("");
    EXPECT_EQ(tavrinM::OldIniPath, "C:\\\\Old.ini");
    EXPECT_EQ(tavrinM::NewIniPath, "C:\\\\New.ini");
    EXPECT_NE(GetFileAttributesW(L"C:\\\\windows"), INVALID_FILE_ATTRIBUTES);
}

TEST(WindowsSystem, ProgramFolderIsTheExecutablesFolder) {
    wchar_t exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    std::wstring path = exe;
    path.resize(path.find_last_of(L'\\'));
    EXPECT_EQ(wide(p::programFolder()), path);
}

TEST_F(WinFolder, HiddenSystemFilesAndFoldersAreNotOrdinary) {
    make("plain.jpg", "a");
    make("hidden.jpg", "b", FILE_ATTRIBUTE_HIDDEN);
    make("system.jpg", "c", FILE_ATTRIBUTE_SYSTEM);
    make("readonly.jpg", "d", FILE_ATTRIBUTE_READONLY);
    make(".dot.jpg", "e");
    ASSERT_TRUE(CreateDirectoryW(wide(folder + "sub.jpg").c_str(), nullptr));

    EXPECT_TRUE(p::isOrdinaryFile(folder + "plain.jpg"));
    EXPECT_TRUE(p::isOrdinaryFile(folder + "readonly.jpg"));
    // A leading dot means nothing to Windows, but Wine marks such a file
    // hidden: the attribute decides either way.
    const bool dotHidden =
        (GetFileAttributesW(wide(folder + ".dot.jpg").c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
    EXPECT_EQ(p::isOrdinaryFile(folder + ".dot.jpg"), !dotHidden);
    EXPECT_FALSE(p::isOrdinaryFile(folder + "hidden.jpg"));
    EXPECT_FALSE(p::isOrdinaryFile(folder + "system.jpg"));
    EXPECT_FALSE(p::isOrdinaryFile(folder + "sub.jpg"));
    p::Status error;
    EXPECT_FALSE(p::isOrdinaryFile(folder + "none.jpg", &error));
    EXPECT_TRUE(error.ok()) << "a missing file is no lookup failure";

    std::vector<std::string> expected{"plain.jpg", "readonly.jpg"};
    if (!dotHidden) {
        expected.insert(expected.begin(), ".dot.jpg");
    }
    EXPECT_EQ(p::listFiles(folder, "*.JPG"), expected);
    RemoveDirectoryW(wide(folder + "sub.jpg").c_str());
}

TEST_F(WinFolder, HiddenAndSystemFoldersAreNotListed) {
    for (const char* name : {"visible", "hidden", "system", "写真"}) {
        ASSERT_TRUE(CreateDirectoryW(wide(folder + name).c_str(), nullptr)) << name;
    }
    ASSERT_TRUE(SetFileAttributesW(wide(folder + "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(wide(folder + "system").c_str(), FILE_ATTRIBUTE_SYSTEM));
    make("file.txt", "a");

    const std::vector<std::string> folders = p::listFolders(folder);
    EXPECT_EQ(folders, (std::vector<std::string>{"visible", "写真"}));
    const p::FolderContents contents = p::listFolder(folder);
    EXPECT_EQ(contents.folders, folders);
    EXPECT_EQ(contents.files, std::vector<std::string>{"file.txt"});

    for (const char* name : {"visible", "hidden", "system", "写真"}) {
        SetFileAttributesW(wide(folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(wide(folder + name).c_str());
    }
}

TEST_F(WinFolder, ClashInAnyLetterCaseLeavesBothFiles) {
    make("a.jpg", "first");
    make("B.JPG", "second");
    for (const char* target : {"B.JPG", "b.jpg"}) {
        const p::Status s = p::renameNoReplace(folder + "a.jpg", folder + target);
        EXPECT_TRUE(s.targetExists()) << target << ": " << s.reason;
        EXPECT_FALSE(s.reason.empty());
    }
    EXPECT_EQ(read("a.jpg"), "first");
    EXPECT_EQ(read("B.JPG"), "second");

    EXPECT_TRUE(p::renameNoReplace(folder + "a.jpg", folder + "写真.jpg").ok());
    EXPECT_EQ(read("写真.jpg"), "first");
    EXPECT_EQ(read("a.jpg"), "<missing>");
}

// The free names of a folder, watched and with every name looked up: no name
// there is missed in any letter case, whether the folder held it when it was
// read or it came in later by any way.
// Refreshes `entries` until `seen` holds, for a second at most: Windows
// reports a change as it is made, Wine's server a moment later.
bool seenSoon(p::FolderEntries& entries, const std::function<bool()>& seen) {
    for (int i = 0; i < 100; ++i, Sleep(10)) {
        entries.refresh();
        if (seen()) {
            return true;
        }
    }
    return false;
}

class WinFolderEntries : public WinFolder, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        WinFolder::SetUp();
        p::detail::setFolderWatchesForTesting(GetParam());
        elsewhere = wbase.substr(0, wbase.size() - 1) + L"-elsewhere\\";
        ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    }
    void TearDown() override {
        p::detail::setFolderWatchesForTesting(true);
        for (const wchar_t* sub : {L"SUB", L"Later4.dat"}) {
            RemoveDirectoryW((wbase + sub).c_str());
        }
        RemoveDirectoryW(elsewhere.c_str());
        WinFolder::TearDown();
    }
    std::wstring elsewhere;
};

TEST_P(WinFolderEntries, EveryEntryCountsInAnyCaseWhetherThereFirstOrMadeLater) {
    make("IMG1.JPG", "");
    make("hidden.txt", "", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    make("gone.txt", "");
    make("A Long Name For Its Short One.jpeg", "");
    ASSERT_TRUE(CreateDirectoryW((wbase + L"SUB").c_str(), nullptr));
    p::FolderEntries entries(folder);
    ASSERT_TRUE(DeleteFileW((wbase + L"gone.txt").c_str()));
    entries.refresh();
    for (const char* name : {"IMG1.JPG", "img1.jpg", "Img1.Jpg", "hidden.txt", "sub", "SUB"}) {
        EXPECT_TRUE(entries.contains(name)) << name;
    }
    EXPECT_FALSE(entries.contains("gone.txt"));
    EXPECT_FALSE(entries.contains("img1.jpeg"));
    // A short name, where the system makes one, finds its file as a path does.
    wchar_t shortPath[MAX_PATH];
    if (GetShortPathNameW((wbase + L"A Long Name For Its Short One.jpeg").c_str(), shortPath,
                          MAX_PATH) > 0) {
        const std::wstring path = shortPath;
        const std::string shortName = p::detail::toUtf8(path.substr(path.rfind(L'\\') + 1));
        EXPECT_EQ(entries.contains(shortName), p::entryExists(folder + shortName)) << shortName;
    }

    // Every way a name can come into the folder after it was read.
    const auto create = [](const std::wstring& to) {
        HANDLE h = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        return h != INVALID_HANDLE_VALUE && CloseHandle(h);
    };
    const std::vector<std::pair<const char*, std::function<bool(const std::wstring&)>>> ways = {
        {"created", create},
        {"renamed within",
         [&](const std::wstring& to) {
             make("renamed.tmp", "");
             return MoveFileExW((wbase + L"renamed.tmp").c_str(), to.c_str(), 0) != 0;
         }},
        {"moved in",
         [&](const std::wstring& to) {
             const std::wstring from = elsewhere + L"moved";
             return create(from) && MoveFileExW(from.c_str(), to.c_str(), 0) != 0;
         }},
        {"folder",
         [](const std::wstring& to) { return CreateDirectoryW(to.c_str(), nullptr) != 0; }},
    };
    int n = 0;
    for (const auto& [way, bring] : ways) {
        const std::string name = "Later" + std::to_string(++n) + ".dat";
        const std::string folded = "later" + std::to_string(n) + ".DAT";
        EXPECT_FALSE(entries.contains(folded)) << way;
        ASSERT_TRUE(bring(wbase + wide(name))) << way;
        EXPECT_TRUE(seenSoon(entries, [&] { return entries.contains(name); })) << way;
        EXPECT_TRUE(entries.contains(folded)) << way;
    }
    EXPECT_EQ(entries.watching(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Lookups, WinFolderEntries, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Watched" : "OneByOne"; });

// More changes between two refreshes than the watch holds: the ones the
// system dropped are not missed, every name is looked up from then on.
TEST_F(WinFolder, AfterMoreChangesThanTheWatchHoldsEveryNameIsLookedUp) {
    p::detail::setFolderWatchBufferForTesting(4096);
    p::FolderEntries entries(folder);
    p::detail::setFolderWatchBufferForTesting(1 << 20);
    ASSERT_TRUE(entries.watching());
    for (int i = 0; i < 300; ++i) { // about 17 KB of changes
        make("a-name-that-fills-the-buffer-" + std::to_string(i), "");
    }
    EXPECT_TRUE(seenSoon(entries, [&] { return !entries.watching(); }));
    EXPECT_TRUE(entries.contains("A-NAME-THAT-FILLS-THE-BUFFER-299"));
    EXPECT_FALSE(entries.contains("never"));
}

// A folder past the limit, made, read, watched and renamed in through the long
// form. Wine takes plain long paths too: this shows that each call takes that form.
TEST_F(WinFolder, AFolderPastTheLimitWorksThroughEveryCall) {
    const std::string above = folder + std::string(120, 'a') + "\\" + std::string(120, 'b');
    const std::string deep = above + "\\写真\\";
    ASSERT_TRUE(p::detail::makeFolders(deep).ok());
    p::Status error;
    p::detail::closeHandle(p::detail::openForOutput(deep + "a.jpg", &error));
    ASSERT_TRUE(error.ok()) << error.reason;
    p::FolderEntries entries(deep);
    EXPECT_TRUE(entries.watching());
    EXPECT_TRUE(entries.contains("A.JPG"));
    EXPECT_EQ(p::listFolder(above).folders, std::vector<std::string>{"写真"});
    EXPECT_TRUE(p::renameNoReplace(deep + "a.jpg", deep + "b.jpg").ok());
    EXPECT_TRUE(p::isOrdinaryFile(deep + "b.jpg"));
    EXPECT_TRUE(p::removeFile(deep + "b.jpg").ok());
    for (const std::string& made : {deep, above + "\\", folder + std::string(120, 'a')}) {
        RemoveDirectoryW(p::detail::win32Path(made).c_str());
    }
}

TEST_F(WinFolder, MissingFileReasonComesFromTheSystem) {
    const p::Status s = p::renameNoReplace(folder + "none.jpg", folder + "x.jpg");
    EXPECT_EQ(s.kind, p::Status::Kind::Failed);
    EXPECT_FALSE(s.reason.empty());
    EXPECT_TRUE(p::removeFile(folder + "none.jpg").ok());
}

// The history lock: a hidden file that no one else may open, gone with its holder.
TEST_F(WinFolder, HistoryLockIsAHiddenFileNoOneElseMayOpen) {
    p::FolderLock first, second;
    ASSERT_TRUE(first.acquire(folder).ok());
    const DWORD attributes = GetFileAttributesW(wide(folder + "Tavrin.lock").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_TRUE(second.acquire(folder).inUse());
    EXPECT_EQ(read("Tavrin.lock"), "<missing>") << "no one else opens it";
    first.release();
    EXPECT_EQ(GetFileAttributesW(wide(folder + "Tavrin.lock").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(second.acquire(folder).ok());
}

// A read-only history cannot be cut back, so a restore is refused before it renames anything.
TEST_F(WinFolder, ReadOnlyHistoryIsNotOpenedForWriting) {
    make("Old.ini", "-C:\\\r\n", FILE_ATTRIBUTE_READONLY);
    ASSERT_FALSE(tavrin::platform::textfile::open(1, folder + "Old.ini",
                                                  tavrin::platform::textfile::Mode::Update)
                     .ok());
    ASSERT_TRUE(tavrin::platform::textfile::open(1, folder + "Old.ini",
                                                 tavrin::platform::textfile::Mode::Input)
                    .ok());
    tavrin::platform::textfile::close(1);
}

// A key of its own under HKEY_CURRENT_USER, removed again after each case.
class WinRegistry : public ::testing::Test {
protected:
    static constexpr tavrin::platform::RegKey currentUser = p::regRoot(0x80000001u);

    void SetUp() override {
        path = "Software\\TavrinTest-" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key);
        RegDeleteTreeW(HKEY_CURRENT_USER, wide(path).c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, wide(path).c_str());
    }
    void setText(const std::string& name, const std::string& text, DWORD type = REG_SZ) {
        const std::wstring value = wide(text);
        ASSERT_EQ(RegSetValueExW(key, wide(name).c_str(), 0, type,
                                 reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void setNumber(const std::string& name, DWORD number) {
        ASSERT_EQ(RegSetValueExW(key, wide(name).c_str(), 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&number), sizeof number),
                  ERROR_SUCCESS);
    }

    std::string path;
    HKEY key = nullptr;
};

TEST_F(WinRegistry, GetKeyValueReadsTextAndNumbers) {
    setText("PATH", "C:\\Program Files\\情報\\msinfo32.exe");
    setNumber("Count", 42);
    setNumber("Minus", 0xFFFFFFFEu);
    std::string text = "old";
    EXPECT_TRUE(tavrin::GetKeyValue(currentUser, path, "PATH", text));
    EXPECT_EQ(text, "C:\\Program Files\\情報\\msinfo32.exe");
    EXPECT_TRUE(tavrin::GetKeyValue(currentUser, path, "Count", text));
    EXPECT_EQ(text, "42");
    EXPECT_TRUE(tavrin::GetKeyValue(currentUser, path, "Minus", text));
    EXPECT_EQ(text, "-2");
    // The names are matched in any letter case, as the registry does.
    EXPECT_TRUE(tavrin::GetKeyValue(currentUser, path, "path", text));
    EXPECT_EQ(text, "C:\\Program Files\\情報\\msinfo32.exe");
}

TEST_F(WinRegistry, GetKeyValueFailsWithEmptyTextOnMissingOrOversizedValues) {
    setText("Long", std::string(2000, 'x'));
    setText("Expand", "%SystemRoot%", REG_EXPAND_SZ);
    std::string text = "old";
    EXPECT_FALSE(tavrin::GetKeyValue(currentUser, path, "None", text));
    EXPECT_EQ(text, "");
    text = "old";
    EXPECT_FALSE(tavrin::GetKeyValue(currentUser, path + "\\Missing", "PATH", text));
    EXPECT_EQ(text, "");
    text = "old";
    EXPECT_FALSE(tavrin::GetKeyValue(currentUser, path, "Long", text)) << "over 1024 bytes";
    EXPECT_EQ(text, "");
    // A type it does not read leaves the text as it was.
    text = "old";
    EXPECT_TRUE(tavrin::GetKeyValue(currentUser, path, "Expand", text));
    EXPECT_EQ(text, "old");
}

// tavrin.exe, built beside the tests: a window program with the icon the
// windows show (32 x 32, 16 colours), the project's version, and a manifest
// that declares it aware of long paths.
class TavrinExe : public ::testing::Test {
protected:
    std::wstring path = wide(p::programFolder()) + L"\\tavrin.exe";
};

TEST_F(TavrinExe, IsAWindowProgram) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(bytes.size(), 0x400u);
    const auto peOffset = *reinterpret_cast<const std::uint32_t*>(bytes.data() + 0x3C);
    ASSERT_EQ(bytes.compare(peOffset, 4, std::string("PE\0\0", 4)), 0);
    const auto* optional =
        reinterpret_cast<const IMAGE_OPTIONAL_HEADER64*>(bytes.data() + peOffset + 4 + 20);
    EXPECT_EQ(optional->Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(optional->Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST_F(TavrinExe, CarriesTheProjectVersion) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(TAVRIN_VERSION_MINOR, TAVRIN_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(TAVRIN_VERSION_MINOR, TAVRIN_VERSION_MAJOR));
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\041104B0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), L"" TAVRIN_VERSION);
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\041104B0\\ProductName",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), L"Tavrin");

    HMODULE exe = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(exe, found))),
                               SizeofResource(exe, found));
    FreeLibrary(exe);
    const std::string version = "version=\"" + std::to_string(TAVRIN_VERSION_MAJOR) + "." +
                                std::to_string(TAVRIN_VERSION_MINOR) + ".0.0\"";
    EXPECT_NE(manifest.find(version), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                            "WindowsSettings\">true</longPathAware>"),
              std::string::npos)
        << manifest;
}

TEST_F(TavrinExe, ItsIconIs32By32In16Colours) {
    HMODULE exe = LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr);
#pragma pack(push, 2)
    struct Entry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
    struct Group {
        WORD reserved, type, count;
        Entry entries[1];
    };
#pragma pack(pop)
    HRSRC found = FindResourceW(exe, L"IDI_ICON1", MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    ASSERT_NE(found, nullptr);
    const auto* group = static_cast<const Group*>(LockResource(LoadResource(exe, found)));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->type, 1);
    ASSERT_EQ(group->count, 1);
    EXPECT_EQ(group->entries[0].width, 32);
    EXPECT_EQ(group->entries[0].height, 32);
    EXPECT_EQ(group->entries[0].colours, 16);
    EXPECT_EQ(group->entries[0].bitCount, 4);
    FreeLibrary(exe);
}

// As in a folder under "Program Files" that the user may not write to, the
// system answers "access denied" (here because the new history's first file,
// Old.ini.new, is a folder): the run says so in the same words as elsewhere,
// renames nothing and leaves the history it found.
class WinHistory : public tavrin::testing::TempFolder {};

TEST_F(WinHistory, RefusedHistoryStopsTheRunBeforeAnyRename) {
    makeFiles({"写真.jpg"});
    const std::filesystem::path pendingPath = prog / "Old.ini.new";
    std::filesystem::create_directory(pendingPath);
    tavrin::testing::RecordingActions act;
    EXPECT_EQ(tavrin::RenameRun(inputs({"写真.jpg"}), act), tavrin::RunEnding::HistoryFailed);
    EXPECT_THAT(messages,
                ::testing::ElementsAre("変更履歴を書き込めないため、変更を中止しました：" +
                                       tavrin::testing::utf8(pendingPath) + "\n" +
                                       p::detail::systemMessage(ERROR_ACCESS_DENIED)));
    EXPECT_THAT(tavrin::testing::entries(dir), ::testing::ElementsAre("写真.jpg"));
    EXPECT_FALSE(std::filesystem::exists(prog / "Old.ini"));
    EXPECT_FALSE(std::filesystem::exists(prog / "New.ini"));
}

} // namespace
