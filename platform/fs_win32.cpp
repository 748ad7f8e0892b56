#include "platform/fs.h"
#include "platform/fs_internal.h"
#include "platform/name_hashes.h"
#include "platform/win32_path.h"
#include "platform/win32_text.h"

#include <windows.h>

#include <cwchar>

namespace tavrin::platform {

namespace {

std::string programFolderOverride;
int orderKeptOverride = -1;
bool folderWatches = true;
DWORD watchBufferBytes = 1 << 20; // room for the changes of a batch of 8,192 renames

Status fromError(DWORD code) {
    return Status::failure(detail::systemMessage(code));
}

// Hidden and system files are not offered for renaming, nor are folders.
bool isOrdinaryAttributes(DWORD attributes) {
    return (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string withSeparator(std::string folder) {
    if (folder.empty() || !isSeparator(folder.back())) {
        folder.push_back('\\');
    }
    return folder;
}

// Opens `path` without following a link there (a reparse point is refused),
// and makes sure it is an ordinary file.
detail::FileHandle openFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                            Status* error) {
    const std::wstring wide = detail::win32Path(path);
    const auto refuse = [&](const char* why) {
        if (error != nullptr) {
            *error = Status::failure(why);
        }
        return detail::invalidHandle;
    };
    const DWORD before = GetFileAttributesW(wide.c_str());
    if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return refuse("シンボリックリンクなので開けません");
    }
    // Windows refuses to write a read-only file; Wine run by an administrator would not.
    if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_READONLY) != 0 &&
        (access & GENERIC_WRITE) != 0) {
        if (error != nullptr) {
            *error = fromError(ERROR_ACCESS_DENIED);
        }
        return detail::invalidHandle;
    }
    HANDLE file = CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error != nullptr) {
            *error = fromError(GetLastError());
        }
        return detail::invalidHandle;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        CloseHandle(file);
        return refuse(link ? "シンボリックリンクなので開けません" : "通常のファイルではありません");
    }
    return reinterpret_cast<detail::FileHandle>(file);
}

} // namespace

char separator() {
    return '\\';
}

Status renameNoReplace(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the system refuses an existing target.
    if (MoveFileExW(detail::win32Path(from).c_str(), detail::win32Path(to).c_str(), 0)) {
        return Status::success();
    }
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
        return {Status::Kind::TargetExists, detail::systemMessage(code)};
    }
    return fromError(code);
}

Status replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExW(detail::win32Path(from).c_str(), detail::win32Path(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Status::success();
    }
    return fromError(GetLastError());
}

Status removeFile(const std::string& path) {
    if (DeleteFileW(detail::win32Path(path).c_str())) {
        return Status::success();
    }
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
        return Status::success();
    }
    return fromError(code);
}

Status syncFolder(const std::string& folder) {
    // Windows documents no flush of a folder. NTFS logs the entries of a folder
    // and commits that log when a file in it is flushed, and the history's
    // moves are written through; where the system also flushes a folder handle,
    // that is done too, and where it refuses, nothing more can be done.
    HANDLE handle = CreateFileW(detail::win32Path(folder).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(handle);
        CloseHandle(handle);
    }
    return Status::success();
}

bool keepsOrderWith(const std::string& folder, const std::string& other) {
    if (orderKeptOverride != -1) {
        return orderKeptOverride == 1 || (orderKeptOverride == 2 && folder == other);
    }
    // The same volume, by its serial number, and NTFS, whose log is replayed in order.
    DWORD serials[2] = {};
    wchar_t system[MAX_PATH] = {};
    for (int i = 0; i < 2; ++i) {
        wchar_t root[MAX_PATH];
        if (!GetVolumePathNameW(detail::win32Path(i == 0 ? folder : other).c_str(), root,
                                MAX_PATH) ||
            !GetVolumeInformationW(root, nullptr, 0, &serials[i], nullptr, nullptr, system,
                                   MAX_PATH)) {
            return false;
        }
    }
    return serials[0] == serials[1] && std::wstring_view(system) == L"NTFS";
}

void setOrderKeptForTesting(int kept) {
    orderKeptOverride = kept;
}

namespace {

bool isNotThere(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
           code == ERROR_INVALID_NAME;
}

Status moveResult(bool moved) {
    if (moved) {
        return Status::success();
    }
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
        return {Status::Kind::TargetExists, detail::systemMessage(code)};
    }
    return fromError(code);
}

} // namespace

bool isOrdinaryFile(const std::string& path, Status* error) {
    if (path.empty() || isSeparator(path.back())) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(detail::win32Path(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND &&
            code != ERROR_INVALID_NAME && error != nullptr) {
            *error = fromError(code);
        }
        return false;
    }
    return isOrdinaryAttributes(attributes);
}

EntryKind entryKind(const std::string& path, Status* error) {
    const DWORD attributes = GetFileAttributesW(detail::win32Path(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND &&
            code != ERROR_INVALID_NAME && error != nullptr) {
            *error = fromError(code);
        }
        return EntryKind::None;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return EntryKind::Link;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder : EntryKind::File;
}

namespace {

// Names the file system takes for one hash alike: each UTF-16 unit folded to
// upper case, as NTFS and FAT compare names.
std::uint64_t nameHash(std::wstring name) {
    CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    std::uint64_t hash = detail::hashStart;
    for (const wchar_t unit : name) {
        hash = detail::hashStep(hash, static_cast<std::uint16_t>(unit));
    }
    return hash;
}

// Names a set of the folder's long names cannot answer for: one with "~" may
// be another file's short name, and the system drops a trailing dot or space
// before it looks a name up.
bool needsLookup(std::wstring_view name) {
    return name.empty() || name.find(L'~') != std::wstring_view::npos || name.back() == L'.' ||
           name.back() == L' ';
}

// Folders on a local disk whose file system reports every change of a name
// in them: not network shares, nor file systems unknown here.
bool isWatchable(HANDLE folder, const std::wstring& path) {
    wchar_t root[MAX_PATH + 1];
    if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH)) {
        return false;
    }
    const UINT drive = GetDriveTypeW(root);
    if (drive != DRIVE_FIXED && drive != DRIVE_REMOVABLE && drive != DRIVE_RAMDISK) {
        return false;
    }
    wchar_t system[MAX_PATH + 1];
    if (!GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, nullptr, system,
                                       MAX_PATH)) {
        return false;
    }
    for (const wchar_t* known : {L"NTFS", L"ReFS", L"FAT", L"FAT32", L"exFAT"}) {
        if (std::wcscmp(system, known) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

// What the folder has held: every long name read at the start or heard of
// since, as hashes. A name that is not among them is free; one that is, or
// shares a hash with one, is looked up. Names that go again are kept, so
// nothing is missed when one comes and goes between two lookups.
struct FolderEntries::Watch {
    HANDLE folder = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    std::vector<DWORD> buffer; // DWORD-aligned, as the system fills it
    bool pending = false;      // the system may still write to the buffer
    std::wstring path;         // ends in "\"
    detail::NameHashes names;

    ~Watch() {
        if (pending) {
            DWORD ignored = 0;
            CancelIoEx(folder, &overlapped);
            GetOverlappedResult(folder, &overlapped, &ignored, TRUE);
        }
        if (folder != INVALID_HANDLE_VALUE) {
            CloseHandle(folder);
        }
        if (overlapped.hEvent != nullptr) {
            CloseHandle(overlapped.hEvent);
        }
    }

    // Asks for the next changes of the folder's names; the system keeps
    // those that come meanwhile until then.
    bool listen() {
        pending = ReadDirectoryChangesW(folder, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(DWORD)), FALSE,
                                        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME,
                                        nullptr, &overlapped, nullptr) != 0;
        return pending;
    }

    // Watches the folder, then reads it. In that order, a name that appears
    // while the folder is read is heard of if the reading misses it.
    bool start(const std::string& utf8Path) {
        path = detail::win32Path(utf8Path);
        folder =
            CreateFileW(path.c_str(), FILE_LIST_DIRECTORY,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        buffer.resize(watchBufferBytes / sizeof(DWORD));
        if (folder == INVALID_HANDLE_VALUE || overlapped.hEvent == nullptr ||
            !isWatchable(folder, path) || !listen()) {
            return false;
        }
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileExW((path + L"*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (find == INVALID_HANDLE_VALUE) {
            return false; // even an empty folder lists "." and ".."
        }
        do {
            names.insert(nameHash(data.cFileName));
        } while (FindNextFileW(find, &data));
        const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
        FindClose(find);
        return complete;
    }

    // Takes in a name the system reported. It may report a short name: the
    // long name of that entry is taken in too, if it is still there (if it
    // went, a later change names wherever it went).
    void takeIn(std::wstring name) {
        if (name.find(L'~') != std::wstring::npos) {
            WIN32_FIND_DATAW data;
            HANDLE find = FindFirstFileExW(detail::win32Path(path + name).c_str(), FindExInfoBasic,
                                           &data, FindExSearchNameMatch, nullptr, 0);
            if (find != INVALID_HANDLE_VALUE) {
                names.insert(nameHash(data.cFileName));
                FindClose(find);
            }
        }
        names.insert(nameHash(std::move(name)));
    }

    // Takes in the names that appeared since the last call; false when some
    // may have gone unheard (more changes than the buffer holds, the watch
    // ended).
    bool catchUp() {
        for (;;) {
            DWORD bytes = 0;
            if (!GetOverlappedResult(folder, &overlapped, &bytes, FALSE)) {
                pending = GetLastError() == ERROR_IO_INCOMPLETE;
                return pending;
            }
            pending = false;
            if (bytes == 0) {
                return false; // the system dropped the changes it could not hold
            }
            const auto* at = reinterpret_cast<const unsigned char*>(buffer.data());
            for (;;) {
                const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
                takeIn(std::wstring(change->FileName, change->FileNameLength / sizeof(wchar_t)));
                if (change->NextEntryOffset == 0) {
                    break;
                }
                at += change->NextEntryOffset;
            }
            if (!listen()) {
                return false;
            }
        }
    }
};

FolderEntries::FolderEntries(const std::string& folder) : folder_(withSeparator(folder)) {
    if (folderWatches) {
        watch_ = std::make_unique<Watch>();
        if (!watch_->start(folder_)) {
            watch_.reset();
        }
    }
}

FolderEntries::~FolderEntries() = default;

bool FolderEntries::contains(const std::string& name, Status* error) const {
    if (watch_ != nullptr) {
        std::wstring wide = detail::toWide(name);
        if (!needsLookup(wide) && !watch_->names.contains(nameHash(std::move(wide)))) {
            return false;
        }
    }
    return entryExists(folder_ + name, error);
}

void FolderEntries::refresh() {
    if (watch_ != nullptr && !watch_->catchUp()) {
        watch_.reset();
    }
}

bool FolderEntries::watching() const {
    return watch_ != nullptr;
}

// Windows renames by path. The folder is not held open, which would keep the
// user from moving it: it is known by its volume and file number instead. A
// file system whose numbers change from one look to the next (some network
// and user-mode ones) gives nothing to compare, and its folder is not looked for.
HeldFolder::HeldFolder(const std::string& folder) : folder_(withSeparator(folder)) {
    detail::EntryFacts facts, again;
    if (detail::entryFacts(folder_, facts).ok() && facts.kind == EntryKind::Folder &&
        detail::entryFacts(folder_, again).ok() && again.device == facts.device &&
        again.file == facts.file) {
        device_ = facts.device;
        file_ = facts.file;
        known_ = true;
    }
}

HeldFolder::~HeldFolder() = default;

Status HeldFolder::rename(std::string_view from, std::string_view to) {
    from_.assign(folder_).append(from);
    to_.assign(folder_).append(to);
    return renameNoReplace(from_, to_);
}

Status HeldFolder::stillAt() const {
    if (!known_) {
        return Status::success(); // its renames fail by themselves
    }
    detail::EntryFacts facts;
    if (auto s = detail::entryFacts(folder_, facts); !s.ok()) {
        return s;
    }
    return facts.kind == EntryKind::Folder && facts.device == device_ && facts.file == file_
               ? Status::success()
               : Status::failure(detail::msgFolderMoved);
}

bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("\\/:\0", 4)) == std::string_view::npos;
}

bool hidesLeadingDot() {
    return false;
}

long maxNameLength(const std::string& folder) {
    wchar_t root[MAX_PATH];
    DWORD maxComponent = 0;
    if (GetVolumePathNameW(detail::win32Path(folder).c_str(), root, MAX_PATH) &&
        GetVolumeInformationW(root, nullptr, 0, nullptr, &maxComponent, nullptr, nullptr, 0) &&
        maxComponent > 0) {
        return static_cast<long>(maxComponent);
    }
    return 255;
}

long nameLength(std::string_view utf8) {
    return static_cast<long>(detail::toWide(utf8).size());
}

Status FolderLock::acquire(const std::string& folder) {
    release();
    // A hidden file that no one else may open, gone again when it is closed
    // (also when the process dies).
    const std::string path = withSeparator(folder) + std::string(lockFileName);
    HANDLE file = CreateFileW(detail::win32Path(path).c_str(),
                              GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A lock file waiting for its last holder to close answers "access denied".
        if (code == ERROR_SHARING_VIOLATION || (code == ERROR_ACCESS_DENIED && entryExists(path))) {
            return {Status::Kind::InUse, "ほかのプログラムが変更履歴を使っています"};
        }
        // The system's words say why, in the user's language.
        return Status::failure("変更履歴をロックできません：" + detail::systemMessage(code));
    }
    handle_ = reinterpret_cast<long long>(file);
    return Status::success();
}

void FolderLock::release() {
    if (handle_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
        handle_ = -1;
    }
}

bool isAbsoluteFolder(std::string_view text) {
    if (text.empty() || text.back() != '\\') {
        return false;
    }
    // A drive ("C:\...") or a share ("\\server\share\...").
    const bool drive = text.size() >= 3 &&
                       ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) &&
                       text[1] == ':' && text[2] == '\\';
    const bool share = text.size() >= 3 && text[0] == '\\' && text[1] == '\\';
    return drive || share;
}

std::string programFolder() {
    if (!programFolderOverride.empty()) {
        return programFolderOverride;
    }
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return ".";
        }
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2); // truncated: try a larger buffer
    }
    const auto slash = buffer.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        return ".";
    }
    // At a drive root keep the separator ("C:\"), as a folder path needs it.
    const bool atRoot = slash == 2 && buffer[1] == L':';
    return detail::toUtf8(buffer.substr(0, atRoot ? slash + 1 : slash));
}

void setProgramFolderForTesting(const std::string& folder) {
    programFolderOverride = folder;
    detail::programFolderChangedForTesting(!folder.empty());
}

namespace detail {

void setFolderWatchesForTesting(bool enabled) {
    folderWatches = enabled;
}

void setFolderWatchBufferForTesting(unsigned long bytes) {
    watchBufferBytes = bytes;
}

void readFolder(const std::string& folder, std::vector<std::string>* folders,
                std::vector<std::string>* files, Status* error) {
    std::string pattern = folder;
    if (pattern.empty() || !isSeparator(pattern.back())) {
        pattern.push_back('\\');
    }
    pattern.push_back('*');
    WIN32_FIND_DATAW data;
    // The basic level skips the short 8.3 names; the large fetch reads more
    // entries per call into the system.
    HANDLE find = FindFirstFileExW(win32Path(pattern).c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && error != nullptr) {
            *error = fromError(code);
        }
        return;
    }
    do {
        const DWORD attributes = data.dwFileAttributes;
        if ((attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
            continue;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            const std::wstring_view name = data.cFileName;
            if (folders != nullptr && name != L"." && name != L"..") {
                folders->push_back(toUtf8(data.cFileName));
            }
        } else if (files != nullptr) {
            files->push_back(toUtf8(data.cFileName));
        }
    } while (FindNextFileW(find, &data));
    const DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES && error != nullptr) {
        *error = fromError(code);
    }
    FindClose(find);
}

std::vector<std::string> ordinaryFileNames(const std::string& folder, Status* error) {
    std::vector<std::string> names;
    readFolder(folder, nullptr, &names, error);
    return names;
}

bool isSameFolder(const std::string& first, const std::string& second) {
    const auto full = [](const std::string& path) {
        const std::wstring wide = toWide(path);
        std::wstring out(MAX_PATH, L'\0');
        DWORD n =
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(out.size()), out.data(), nullptr);
        if (n >= out.size()) {
            out.resize(n);
            n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(out.size()), out.data(), nullptr);
        }
        out.resize(n < out.size() ? n : 0);
        while (out.size() > 3 && (out.back() == L'\\' || out.back() == L'/')) {
            out.pop_back();
        }
        return out;
    };
    const std::wstring a = full(first);
    const std::wstring b = full(second);
    return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool isProgramFolder(const std::string& folder) {
    return isSameFolder(folder, programFolder()) || isSameFolder(folder, historyFolder());
}

// Asking for the rights is not enough here: a folder under Program Files may
// grant them on paper and still refuse the file. Only a file made says yes.
bool canCreateFileIn(const std::string& folder) {
    const std::string path =
        withSeparator(folder) + ".tavrin-probe-" + std::to_string(GetCurrentProcessId());
    HANDLE file =
        CreateFileW(win32Path(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

Status makeFolders(const std::string& folder) {
    const std::wstring wide = toWide(folder);
    // Past the drive ("C:\") or the share ("\\server\share\").
    std::size_t at = wide.find_first_of(L"\\/", wide.rfind(L':') == 1 ? 3 : 2);
    if (wide.starts_with(L"\\\\")) {
        at = wide.find_first_of(L"\\/", wide.find_first_of(L"\\/", 2) + 1);
    }
    for (;; at = wide.find_first_of(L"\\/", at + 1)) {
        const std::wstring part = wide.substr(0, at);
        if (!part.empty() && !CreateDirectoryW(win32Path(part).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            return fromError(GetLastError());
        }
        if (at == std::wstring::npos) {
            return Status::success();
        }
    }
}

// %LOCALAPPDATA%\Tavrin: the user's own, never roaming, folder for program data.
std::string systemStateFolder() {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) {
        return {};
    }
    return withSeparator(toUtf8(std::wstring(buffer, n))) + "Tavrin";
}

// Others may read the history while it is open, and the pending files can be
// moved into place while they are open.
FileHandle openForOutput(const std::string& path, Status* error) {
    return openFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_ALWAYS, error);
}

FileHandle openForUpdate(const std::string& path, Status* error) {
    return openFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    OPEN_EXISTING, error);
}

FileHandle openForInput(const std::string& path, Status* error) {
    return openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    OPEN_EXISTING, error);
}

Status readAll(FileHandle handle, std::string& content, std::uint64_t limit) {
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    content.clear();
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        return fromError(GetLastError());
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > limit) {
        return tooLarge(limit);
    }
    content.reserve(static_cast<std::size_t>(size.QuadPart));
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buf, sizeof buf, &n, nullptr)) {
            return fromError(GetLastError());
        }
        if (n == 0) {
            return Status::success();
        }
        if (n > limit - content.size()) {
            content.clear();
            return tooLarge(limit);
        }
        content.append(buf, n);
    }
}

Status writeAll(FileHandle handle, std::string_view data, std::size_t& written) {
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    written = 0;
    while (!data.empty()) {
        DWORD part = 0;
        const DWORD chunk = data.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(data.size());
        const bool ok = WriteFile(file, data.data(), chunk, &part, nullptr);
        written += part;
        if (!ok) {
            return fromError(GetLastError());
        }
        data.remove_prefix(part);
    }
    return Status::success();
}

Status truncateTo(FileHandle handle, unsigned long long size) {
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
        return fromError(GetLastError());
    }
    return Status::success();
}

Status syncData(FileHandle handle) {
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(handle))) {
        return Status::success();
    }
    return fromError(GetLastError());
}

void closeHandle(FileHandle handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

// Windows renames without replacing in one step: no reservation, nor link,
// is ever left, and the ownership checks meet only a user's own links.
Status entryFacts(const std::string& path, EntryFacts& facts) {
    facts = {};
    HANDLE file =
        CreateFileW(win32Path(path).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return isNotThere(code) ? Status::success() : fromError(code);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(file, &info) != 0;
    const DWORD code = GetLastError();
    CloseHandle(file);
    if (!ok) {
        return fromError(code);
    }
    facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryKind::Link
                 : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? EntryKind::Folder
                                                                             : EntryKind::File;
    facts.device = info.dwVolumeSerialNumber;
    facts.file = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    facts.size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts.links = info.nNumberOfLinks;
    return Status::success();
}

Status readHead(const std::string& path, std::size_t max, std::string& bytes) {
    bytes.clear();
    HANDLE file = CreateFileW(win32Path(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return isNotThere(code) ? Status::success() : fromError(code);
    }
    bytes.resize(max);
    DWORD read = 0;
    const bool ok = ReadFile(file, bytes.data(), static_cast<DWORD>(max), &read, nullptr) != 0;
    const DWORD code = GetLastError();
    CloseHandle(file);
    bytes.resize(ok ? read : 0);
    return ok ? Status::success() : fromError(code);
}

Status moveToOwnName(const std::string& from, const std::string& to, bool replace) {
    return moveResult(MoveFileExW(win32Path(from).c_str(), win32Path(to).c_str(),
                                  replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0);
}

Status moveBack(const std::string& from, const std::string& to) {
    return moveResult(MoveFileExW(win32Path(from).c_str(), win32Path(to).c_str(), 0) != 0);
}

void setRenameFallbackForTesting(RenameFallback) {}

} // namespace detail

} // namespace tavrin::platform
