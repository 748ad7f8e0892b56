#include "platform/fs.h"
#include "platform/fs_internal.h"
#include "platform/name_hashes.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace tavrin::platform {

namespace {

std::string programFolderOverride;
bool folderWatches = true;
int orderKeptOverride = -1;

Status fromErrno(int err) {
    return Status::failure(std::strerror(err));
}

Status exists() {
    return {Status::Kind::TargetExists, std::strerror(EEXIST)};
}

// A file system that cannot make a file or folder durable says so with one of
// these; there is nothing more to do there.
bool cannotSync(int err) {
    return err == EINVAL || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS;
}

bool isHiddenName(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

// For file systems without renameat2 flags: link refuses an existing target.
Status renameByLink(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) {
            return Status::success();
        }
        const int err = errno;
        ::unlink(to.c_str());
        return fromErrno(err);
    }
    const int err = errno;
    if (err == EEXIST) {
        return exists();
    }
    if (err != EPERM && err != ENOTSUP && err != EOPNOTSUPP && err != ENOSYS && err != EXDEV) {
        return fromErrno(err);
    }
    return detail::renameByReservation(from, to); // no hard links here (FAT, exFAT)
}

// Opens `path` without following a link there and without waiting on a pipe,
// and makes sure it is an ordinary file.
detail::FileHandle openFile(const std::string& path, int flags, Status* error) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) {
        if (error != nullptr) {
            *error = errno == ELOOP ? Status::failure("シンボリックリンクなので開けません")
                                    : fromErrno(errno);
        }
        return detail::invalidHandle;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error != nullptr) {
            *error = Status::failure("通常のファイルではありません");
        }
        ::close(fd);
        return detail::invalidHandle;
    }
    return fd;
}

} // namespace

char separator() {
    return '/';
}

Status renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return Status::success();
    }
    const int err = errno;
    if (err == EEXIST) {
        return exists();
    }
    // FUSE and some older file systems answer these even for a free name.
    if (err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP) {
        return renameByLink(from, to);
    }
    return fromErrno(err);
}

Status replaceFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) {
        return Status::success();
    }
    return fromErrno(errno);
}

Status removeFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
        return Status::success();
    }
    return fromErrno(errno);
}

Status syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return fromErrno(errno);
    }
    const int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err == 0 || cannotSync(err) ? Status::success() : fromErrno(err);
}

bool keepsOrderWith(const std::string& folder, const std::string& other) {
    if (orderKeptOverride != -1) {
        return orderKeptOverride == 1;
    }
    struct stat a, b;
    struct statfs fsInfo;
    if (::stat(folder.c_str(), &a) != 0 || ::stat(other.c_str(), &b) != 0 || a.st_dev != b.st_dev ||
        ::statfs(folder.c_str(), &fsInfo) != 0) {
        return false;
    }
    // jbd2 and the XFS log commit every change in the order it was made, and a
    // sync commits all that came before it.
    return fsInfo.f_type == EXT4_SUPER_MAGIC || fsInfo.f_type == XFS_SUPER_MAGIC;
}

void setOrderKeptForTesting(int kept) {
    orderKeptOverride = kept;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool isEmptyFile(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

bool isOrdinaryFile(const std::string& path, Status* error) {
    const auto slash = path.find_last_of('/');
    const std::string_view name = slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
    if (name.empty() || isHiddenName(name)) {
        return false;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR && error != nullptr) {
            *error = fromErrno(errno);
        }
        return false;
    }
    return S_ISREG(st.st_mode);
}

EntryKind entryKind(const std::string& path, Status* error) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        return S_ISREG(st.st_mode)   ? EntryKind::File
               : S_ISDIR(st.st_mode) ? EntryKind::Folder
               : S_ISLNK(st.st_mode) ? EntryKind::Link
                                     : EntryKind::Other;
    }
    if (errno != ENOENT && errno != ENOTDIR && error != nullptr) {
        *error = fromErrno(errno);
    }
    return EntryKind::None;
}

namespace {

// Folders whose every change inotify hears of (local file systems, unlike
// network and FUSE ones) and whose names are equal only when their bytes are:
// no folder that folds letter case or normalizes Unicode (the casefold flag
// of ext4, f2fs and tmpfs). XFS's old ASCII case-insensitive format is the
// one exception, which nameHash allows for.
bool isWatchable(int dirFd) {
    struct statfs fsInfo;
    if (::fstatfs(dirFd, &fsInfo) != 0) {
        return false;
    }
    switch (fsInfo.f_type) {
    case TMPFS_MAGIC:
    case EXT4_SUPER_MAGIC: // also ext2 and ext3
    case BTRFS_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
        break;
    default:
        return false;
    }
    int flags = 0;
    if (::ioctl(dirFd, FS_IOC_GETFLAGS, &flags) != 0) {
        return errno == ENOTTY; // a file system without such flags folds nothing
    }
    return (flags & FS_CASEFOLD_FL) == 0;
}

// Names that differ only in the letter case of ASCII hash alike, as XFS's
// case-insensitive format takes them for one.
std::uint64_t nameHash(std::string_view name) {
    std::uint64_t hash = detail::hashStart;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        hash = detail::hashStep(hash, c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    return hash;
}

} // namespace

// What the folder has held: every name read at the start or heard of since,
// as hashes. A name that is not among them is free; one that is, or shares
// a hash with one, is looked up. Names that go again are kept, so nothing is
// missed when one comes and goes between two lookups.
struct FolderEntries::Watch {
    int fd = -1;
    detail::NameHashes names;

    ~Watch() {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    // Watches the folder held by `dirFd`, then reads it. In that order, a name
    // that appears while the folder is read is heard of if the reading misses it.
    bool start(int dirFd) {
        const int readFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (readFd < 0) {
            return false;
        }
        DIR* dir = ::fdopendir(readFd);
        if (dir == nullptr) {
            ::close(readFd);
            return false;
        }
        const std::string self = "/proc/self/fd/" + std::to_string(dirFd); // the very folder held
        fd = isWatchable(readFd) ? ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1;
        bool ok = fd >= 0 &&
                  ::inotify_add_watch(fd, self.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) >= 0;
        while (ok) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                ok = errno == 0;
                break;
            }
            names.insert(nameHash(entry->d_name));
        }
        ::closedir(dir);
        return ok;
    }

    // Takes in the names that appeared since the last call; false when some
    // may have gone unheard (the queue overflowed, the watch ended).
    bool catchUp() {
        alignas(inotify_event) char buf[16384];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                return n < 0 && errno == EAGAIN;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
                if ((event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_UNMOUNT)) != 0) {
                    return false;
                }
                if (event->len > 0) {
                    names.insert(nameHash(event->name));
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }
};

FolderEntries::FolderEntries(const std::string& folder) : folder_(folder) {
    if (folder_.empty() || folder_.back() != '/') {
        folder_ += '/';
    }
    handle_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (handle_ >= 0 && folderWatches) {
        watch_ = std::make_unique<Watch>();
        if (!watch_->start(static_cast<int>(handle_))) {
            watch_.reset();
        }
    }
}

FolderEntries::~FolderEntries() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
}

bool FolderEntries::contains(const std::string& name, Status* error) const {
    if (handle_ < 0) {
        return entryExists(folder_ + name, error);
    }
    if (watch_ != nullptr && !watch_->names.contains(nameHash(name))) {
        return false;
    }
    struct stat st;
    if (::fstatat(static_cast<int>(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        return true;
    }
    if (errno != ENOENT && errno != ENOTDIR && error != nullptr) {
        *error = fromErrno(errno);
    }
    return false;
}

void FolderEntries::refresh() {
    if (watch_ != nullptr && !watch_->catchUp()) {
        watch_.reset();
    }
}

bool FolderEntries::watching() const {
    return watch_ != nullptr;
}

bool isPlainName(std::string_view name) {
    // Two searches for one character each: find_first_of would search the set
    // once for every character of the name, and a run asks this of every name.
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool hidesLeadingDot() {
    return true;
}

long maxNameLength(const std::string& folder) {
    const long max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return max > 0 ? max : 255;
}

long nameLength(std::string_view utf8) {
    return static_cast<long>(utf8.size());
}

Status FolderLock::acquire(const std::string& folder) {
    release();
    // The folder itself carries the lock: it is never replaced, and no file is left behind.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return fromErrno(errno);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            return {Status::Kind::InUse, "ほかのプログラムが変更履歴を使っています"};
        }
        // No lock service (NFS without one): another machine may share the
        // folder, so nothing goes on without the lock.
        if (err == ENOLCK) {
            return Status::failure("このフォルダーのファイルシステムではロックを使えません");
        }
        return fromErrno(err);
    }
    handle_ = fd;
    return Status::success();
}

void FolderLock::release() {
    if (handle_ != -1) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

bool isAbsoluteFolder(std::string_view text) {
    return !text.empty() && text.front() == '/' && text.back() == '/';
}

std::string programFolder() {
    if (!programFolderOverride.empty()) {
        return programFolderOverride;
    }
    std::string buf(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0) {
        return ".";
    }
    buf.resize(static_cast<std::size_t>(n));
    const auto slash = buf.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : buf.substr(0, slash);
}

void setProgramFolderForTesting(const std::string& folder) {
    programFolderOverride = folder;
    detail::programFolderChangedForTesting(!folder.empty());
}

namespace detail {

void setFolderWatchesForTesting(bool enabled) {
    folderWatches = enabled;
}

void readFolder(const std::string& folder, std::vector<std::string>* folders,
                std::vector<std::string>* files, Status* error) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        if (error != nullptr) {
            *error = fromErrno(errno);
        }
        return;
    }
    const int fd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            if (errno != 0 && error != nullptr) {
                *error = fromErrno(errno);
            }
            break;
        }
        const char* name = entry->d_name;
        if (isHiddenName(name)) {
            continue; // also "." and ".."
        }
        bool regular = entry->d_type == DT_REG;
        bool directory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // The type the entry leads to, following a link.
            struct stat st;
            const bool found = ::fstatat(fd, name, &st, 0) == 0;
            regular = found && S_ISREG(st.st_mode);
            directory = found && S_ISDIR(st.st_mode);
        }
        if (regular && files != nullptr) {
            files->emplace_back(name);
        } else if (directory && folders != nullptr) {
            folders->emplace_back(name);
        }
    }
    ::closedir(dir);
}

std::vector<std::string> ordinaryFileNames(const std::string& folder, Status* error) {
    std::vector<std::string> names;
    readFolder(folder, nullptr, &names, error);
    return names;
}

bool isSameFolder(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool isProgramFolder(const std::string& folder) {
    return isSameFolder(folder, programFolder()) || isSameFolder(folder, historyFolder());
}

// Permission bits, read-only mounts and access control lists all answer here,
// as they will when the history is written.
bool canCreateFileIn(const std::string& folder) {
    char probe[64];
    std::snprintf(probe, sizeof probe, "/.tavrin-probe-%ld", static_cast<long>(::getpid()));
    const std::string path = folder + probe;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return ::unlink(path.c_str()) == 0;
}

Status makeFolders(const std::string& folder) {
    for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return fromErrno(errno);
        }
        if (at == std::string::npos) {
            return Status::success();
        }
    }
}

// $XDG_STATE_HOME/tavrin, or ~/.local/state/tavrin; a relative setting is ignored.
std::string systemStateFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
        return std::string(state) + "/tavrin";
    }
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return std::string(home) + "/.local/state/tavrin";
    }
    return {};
}

FileHandle openForOutput(const std::string& path, Status* error) {
    return openFile(path, O_WRONLY | O_CREAT | O_TRUNC, error);
}

FileHandle openForUpdate(const std::string& path, Status* error) {
    return openFile(path, O_RDWR, error);
}

FileHandle openForInput(const std::string& path, Status* error) {
    return openFile(path, O_RDONLY, error);
}

Status readAll(FileHandle handle, std::string& content) {
    const int fd = static_cast<int>(handle);
    content.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fromErrno(errno);
        }
        if (n == 0) {
            return Status::success();
        }
        content.append(buf, static_cast<std::size_t>(n));
    }
}

Status writeAll(FileHandle handle, std::string_view data, std::size_t& written) {
    const int fd = static_cast<int>(handle);
    written = 0;
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fromErrno(errno);
        }
        data.remove_prefix(static_cast<std::size_t>(n));
        written += static_cast<std::size_t>(n);
    }
    return Status::success();
}

Status truncateTo(FileHandle handle, unsigned long long size) {
    const int fd = static_cast<int>(handle);
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        ::lseek(fd, static_cast<off_t>(size), SEEK_SET) < 0) {
        return fromErrno(errno);
    }
    return Status::success();
}

Status syncData(FileHandle handle) {
    // The size is part of what fdatasync makes durable; the times are not needed.
    if (::fdatasync(static_cast<int>(handle)) == 0 || cannotSync(errno)) {
        return Status::success();
    }
    return fromErrno(errno);
}

void closeHandle(FileHandle handle) {
    ::close(static_cast<int>(handle));
}

Status renameByReservation(const std::string& from, const std::string& to) {
    // Taking the name first means a file that appears meanwhile finds it taken,
    // instead of being replaced by the rename.
    const int fd = ::open(to.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return errno == EEXIST ? exists() : fromErrno(errno);
    }
    struct stat reserved, st;
    const bool known = ::fstat(fd, &reserved) == 0;
    const auto stillReserved = [&] {
        return known && ::lstat(to.c_str(), &st) == 0 && st.st_dev == reserved.st_dev &&
               st.st_ino == reserved.st_ino && st.st_size == 0;
    };
    // Another program may have saved a file under the name meanwhile: it is theirs.
    if (!stillReserved()) {
        ::close(fd);
        return exists();
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int err = errno;
        if (stillReserved()) { // give the name back, but only while it is the empty file made above
            ::unlink(to.c_str());
        }
        ::close(fd);
        return fromErrno(err);
    }
    // Written into just before the rename replaced it: the file goes back, and
    // what was written there takes the name again.
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::access(from.c_str(), F_OK) != 0 &&
        ::rename(to.c_str(), from.c_str()) == 0) {
        const int copy = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        std::string content;
        if (copy >= 0 && ::lseek(fd, 0, SEEK_SET) == 0 && readAll(fd, content).ok()) {
            std::size_t written = 0;
            writeAll(copy, content, written);
        }
        if (copy >= 0) {
            ::close(copy);
        }
        ::close(fd);
        return exists();
    }
    ::close(fd);
    return Status::success();
}

} // namespace detail

} // namespace tavrin::platform
