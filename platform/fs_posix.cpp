#include "platform/fs.h"
#include "platform/fs_internal.h"
#include "platform/name_hashes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
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
#include <sys/sysmacros.h>
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

// A file system that has no no-replace rename answers RENAME_NOREPLACE with
// one of these; FUSE does even for a free name.
bool lacksNoReplace(int err) {
    return err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP;
}

// A file system without hard links answers link with one of these.
bool lacksLinks(int err) {
    return err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS || err == EXDEV;
}

detail::RenameFallback forcedFallback = detail::RenameFallback::None;

// Creates `path` as a reservation of the program's own: a new file, never one
// that is there, holding the mark. The mark is best effort (a full disk may
// take none of it, or a part): `written` tells how much of it is there.
int reserve(const std::string& path, std::size_t& written) {
    written = 0;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        const ssize_t n = ::write(fd, reservationMark.data(), reservationMark.size());
        written = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return fd;
}

Status renameByReserving(const std::string& from, const std::string& to);

// RENAME_NOREPLACE, where the file system has it (and no fallback is forced):
// true when it answered, with its answer in `result`.
bool renamedWithoutReplacing(const std::string& from, const std::string& to, Status& result) {
    if (forcedFallback != detail::RenameFallback::None) {
        // As FUSE: the system itself refuses a name that is taken, and leaves
        // the rest to a file system that has no flags.
        if (::faccessat(AT_FDCWD, to.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) != 0) {
            return false;
        }
        result = exists();
        return true;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        result = Status::success();
        return true;
    }
    const int err = errno;
    if (err != EEXIST && lacksNoReplace(err)) {
        return false;
    }
    result = err == EEXIST ? exists() : fromErrno(err);
    return true;
}

// Takes `to` with a marked reservation of its own, then renames `from` onto it.
Status renameOntoReservation(const std::string& from, const std::string& to, bool& reserved) {
    std::size_t marked = 0;
    const int fd = reserve(to, marked);
    reserved = fd >= 0;
    if (fd < 0) {
        return errno == EEXIST ? exists() : fromErrno(errno);
    }
    ::close(fd);
    return ::rename(from.c_str(), to.c_str()) == 0 ? Status::success() : fromErrno(errno);
}

// For file systems without renameat2 flags: link refuses an existing target.
// The old name then goes only as a second name of the file: a file saved
// under it meanwhile stays.
Status renameByLink(const std::string& from, const std::string& to) {
    // What a fallback cut short left aside under these names, first.
    std::string failedPath;
    if (auto s = tidyAsides(from, to, failedPath); !s.ok()) {
        return s;
    }
    if (forcedFallback == detail::RenameFallback::Reservation) {
        return renameByReserving(from, to);
    }
    if (::link(from.c_str(), to.c_str()) == 0) {
        bool removed = false;
        detail::Proof proof;
        proof.secondNameOf = &to;
        const Status s = detail::removeChecked(from, proof, removed, failedPath);
        if (!s.ok()) {
            detail::Proof back;
            back.secondNameOf = &from;
            detail::removeChecked(to, back, removed, failedPath);
        }
        return s;
    }
    const int err = errno;
    if (err == EEXIST) {
        return exists();
    }
    if (!lacksLinks(err)) {
        return fromErrno(err);
    }
    return renameByReserving(from, to); // no hard links here (FAT, exFAT)
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
    const bool looked = ::fstat(fd, &st) == 0;
    if (!looked || !S_ISREG(st.st_mode)) {
        if (error != nullptr) {
            *error = looked ? Status::failure("通常のファイルではありません") : fromErrno(errno);
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
    Status s;
    return renamedWithoutReplacing(from, to, s) ? s : renameByLink(from, to);
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

namespace {

// The text of a small file of the kernel's, without its line break; empty when
// it cannot be read.
std::string kernelText(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char buf[64];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    std::string text(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// True when the ext2/3/4 file system on `device` has a journal that jbd2 runs.
// ext2, and ext3 or ext4 made without a journal, report the same type as ext4
// and keep no order. The kernel names the device as /sys/dev/block leads to;
// its journal thread is in /sys/fs/ext4/<name>/journal_task ("<none>" without
// one), and older kernels show only /proc/fs/jbd2/<name>-<inode>.
bool runsAJournal(dev_t device) {
    const std::string link =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) {
        return false;
    }
    const std::string_view path(target, static_cast<std::size_t>(n));
    const std::string name(path.substr(path.find_last_of('/') + 1));
    const std::string task = kernelText("/sys/fs/ext4/" + name + "/journal_task");
    if (!task.empty()) {
        return std::all_of(task.begin(), task.end(), [](char c) { return c >= '0' && c <= '9'; });
    }
    DIR* jbd2 = ::opendir("/proc/fs/jbd2");
    bool found = false;
    while (jbd2 != nullptr && !found) {
        const dirent* entry = ::readdir(jbd2);
        if (entry == nullptr) {
            break;
        }
        found = std::string_view(entry->d_name).starts_with(name + "-");
    }
    if (jbd2 != nullptr) {
        ::closedir(jbd2);
    }
    return found;
}

} // namespace

bool keepsOrderWith(const std::string& folder, const std::string& other) {
    if (orderKeptOverride != -1) {
        return orderKeptOverride == 1 || (orderKeptOverride == 2 && folder == other);
    }
    struct stat a, b;
    struct statfs fsInfo;
    if (::stat(folder.c_str(), &a) != 0 || ::stat(other.c_str(), &b) != 0 || a.st_dev != b.st_dev ||
        ::statfs(folder.c_str(), &fsInfo) != 0) {
        return false;
    }
    // jbd2 and the XFS log commit every change in the order it was made, and a
    // sync commits all that came before it. Without a journal nothing is known.
    return fsInfo.f_type == XFS_SUPER_MAGIC ||
           (fsInfo.f_type == EXT4_SUPER_MAGIC && runsAJournal(a.st_dev));
}

void setOrderKeptForTesting(int kept) {
    orderKeptOverride = kept;
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

namespace {

EntryKind kindOf(mode_t mode) {
    return S_ISREG(mode)   ? EntryKind::File
           : S_ISDIR(mode) ? EntryKind::Folder
           : S_ISLNK(mode) ? EntryKind::Link
                           : EntryKind::Other;
}

// "Not there", and a path through something that is no folder, which cannot
// name anything: every other failure of a look is no answer.
bool isNotThere(int err) {
    return err == ENOENT || err == ENOTDIR;
}

} // namespace

EntryKind entryKind(const std::string& path, Status* error) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        return kindOf(st.st_mode);
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
        std::vector<std::uint64_t> read;
        while (ok) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                ok = errno == 0;
                break;
            }
            read.push_back(nameHash(entry->d_name));
        }
        ::closedir(dir);
        // Room for as many names again, as a run over the whole folder adds.
        names.reserve(2 * read.size());
        names.insert(read.data(), read.size());
        return ok;
    }

    // Takes in the names that appeared since the last call; false when some
    // may have gone unheard (the queue overflowed, the watch ended).
    bool catchUp() {
        alignas(inotify_event) char buf[16384];
        std::uint64_t heard[sizeof buf / sizeof(inotify_event)];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                return n < 0 && errno == EAGAIN;
            }
            std::size_t count = 0;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
                if ((event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_UNMOUNT)) != 0) {
                    return false;
                }
                if (event->len > 0) {
                    heard[count++] = nameHash(event->name);
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            names.insert(heard, count);
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

HeldFolder::HeldFolder(const std::string& folder) : folder_(folder) {
    if (folder_.empty() || folder_.back() != '/') {
        folder_ += '/';
    }
    handle_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (handle_ >= 0 && ::fstat(static_cast<int>(handle_), &st) == 0) {
        device_ = st.st_dev;
        file_ = st.st_ino;
        known_ = true;
    } else if (handle_ >= 0) {
        ::close(static_cast<int>(handle_)); // renamed by path, as where it cannot be held
        handle_ = -1;
    }
}

HeldFolder::~HeldFolder() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
}

Status HeldFolder::rename(std::string_view from, std::string_view to) {
    from_.assign(from);
    to_.assign(to);
    if (handle_ >= 0 && forcedFallback == detail::RenameFallback::None) {
        const int fd = static_cast<int>(handle_);
        if (::renameat2(fd, from_.c_str(), fd, to_.c_str(), RENAME_NOREPLACE) == 0) {
            return Status::success();
        }
        const int err = errno;
        if (err == EEXIST) {
            return exists();
        }
        if (!lacksNoReplace(err)) {
            return fromErrno(err);
        }
    }
    // The fallbacks, by path: they look at and tidy names by path too.
    from_.insert(0, folder_);
    to_.insert(0, folder_);
    return renameNoReplace(from_, to_);
}

Status HeldFolder::stillAt() const {
    if (!known_) {
        return Status::success(); // its renames go by path
    }
    struct stat now;
    if (::stat(folder_.c_str(), &now) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? Status::failure(detail::msgFolderMoved)
                                                   : fromErrno(errno);
    }
    return now.st_dev == device_ && now.st_ino == file_ ? Status::success()
                                                        : Status::failure(detail::msgFolderMoved);
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

namespace {

// Why the history could not be locked, in the user's language: the common
// reasons in words of our own, the rarer ones in the system's.
Status lockFailure(int err) {
    const char* why = nullptr;
    switch (err) {
    case EIO:
        why = "ディスクの読み書きに失敗しました";
        break;
    case EACCES:
    case EPERM:
        why = "アクセスが拒否されました";
        break;
    case ENOENT:
    case ENOTDIR:
        why = "フォルダーが見つかりません";
        break;
    case ENOMEM:
    case EMFILE:
    case ENFILE:
        why = "システムの資源が足りません";
        break;
    default:
        break;
    }
    return Status::failure(std::string("変更履歴をロックできません：") +
                           (why != nullptr ? why : std::strerror(err)));
}

} // namespace

Status FolderLock::acquire(const std::string& folder) {
    release();
    // The folder itself carries the lock: it is never replaced, and no file is left behind.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return lockFailure(errno);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            return {Status::Kind::InUse, "ほかのプログラムが変更履歴を使っています"};
        }
        // No lock service (NFS without one) or none for this kind of file
        // system (some FUSE ones): another machine or program may share the
        // folder, so nothing goes on without the lock.
        if (err == ENOLCK || err == EOPNOTSUPP || err == ENOTSUP || err == EINVAL ||
            err == ENOSYS) {
            return Status::failure("このフォルダーのファイルシステムではロックを使えません");
        }
        return lockFailure(err);
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

Status readAll(FileHandle handle, std::string& content, std::uint64_t limit) {
    const int fd = static_cast<int>(handle);
    content.clear();
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        return fromErrno(errno);
    }
    if (static_cast<std::uint64_t>(st.st_size) > limit) {
        return tooLarge(limit);
    }
    content.reserve(static_cast<std::size_t>(st.st_size));
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
        if (static_cast<std::uint64_t>(n) > limit - content.size()) {
            content.clear();
            return tooLarge(limit);
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
    std::string failedPath;
    if (auto s = tidyAsides(from, to, failedPath); !s.ok()) {
        return s;
    }
    return renameByReserving(from, to);
}

Status entryFacts(const std::string& path, EntryFacts& facts) {
    facts = {};
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        return isNotThere(errno) ? Status::success() : fromErrno(errno);
    }
    facts.kind = kindOf(st.st_mode);
    facts.device = st.st_dev;
    facts.file = st.st_ino;
    facts.size = static_cast<unsigned long long>(st.st_size);
    facts.links = st.st_nlink;
    return Status::success();
}

Status readHead(const std::string& path, std::size_t max, std::string& bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return isNotThere(errno) || errno == ELOOP ? Status::success() : fromErrno(errno);
    }
    struct stat st;
    int err = ::fstat(fd, &st) == 0 ? 0 : errno;
    if (err == 0 && S_ISREG(st.st_mode)) {
        bytes.resize(max);
        ssize_t n;
        do {
            n = ::pread(fd, bytes.data(), max, 0);
        } while (n < 0 && errno == EINTR);
        err = n < 0 ? errno : 0;
        bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    }
    ::close(fd);
    return err == 0 ? Status::success() : fromErrno(err);
}

Status moveToOwnName(const std::string& from, const std::string& to, bool replace) {
    if (replace) {
        return ::rename(from.c_str(), to.c_str()) == 0 ? Status::success() : fromErrno(errno);
    }
    Status s;
    if (renamedWithoutReplacing(from, to, s)) {
        return s;
    }
    // The own name is taken first, with the mark, and renamed onto: nobody
    // else saves under it, and a kill leaves a reservation that proves itself.
    bool reserved = false;
    s = renameOntoReservation(from, to, reserved);
    if (!s.ok() && reserved) {
        ::unlink(to.c_str());
    }
    return s;
}

Status moveBack(const std::string& from, const std::string& to) {
    Status s;
    if (renamedWithoutReplacing(from, to, s)) {
        return s;
    }
    if (forcedFallback != RenameFallback::Reservation) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str()); // the program's own name
            return Status::success();
        }
        if (errno == EEXIST || !lacksLinks(errno)) {
            return errno == EEXIST ? exists() : fromErrno(errno);
        }
    }
    // Should the rename fail, the marked reservation stays: it proves itself.
    bool reserved = false;
    return renameOntoReservation(from, to, reserved);
}

void setRenameFallbackForTesting(RenameFallback fallback) {
    forcedFallback = fallback;
}

} // namespace detail

namespace {

// The reservation rename, what a fallback cut short left aside settled.
Status renameByReserving(const std::string& from, const std::string& to) {
    // The aside name of `to` is marked before `to` is taken, so that a kill
    // before `to` holds a mark of its own leaves proof that it is the program's.
    const std::string proof = asidePath(to);
    std::size_t proofMarked = 0;
    const int proofFd = reserve(proof, proofMarked);
    if (proofFd < 0) {
        return fromErrno(errno);
    }
    ::close(proofFd);
    // Taking the name first means a file that appears meanwhile finds it taken,
    // instead of being replaced by the rename.
    std::size_t marked = 0;
    const int fd = reserve(to, marked);
    if (fd < 0) {
        const int err = errno;
        ::unlink(proof.c_str());
        return err == EEXIST ? exists() : fromErrno(err);
    }
    // The proof goes before the rename: once the file has the name, an empty
    // file there is the user's.
    ::unlink(proof.c_str());
    const std::string_view expected = reservationMark.substr(0, marked);
    detail::EntryFacts reserved;
    struct stat st;
    const int statErr = ::fstat(fd, &st) == 0 ? 0 : errno;
    if (statErr == 0) {
        reserved = {EntryKind::File, static_cast<unsigned long long>(st.st_dev),
                    static_cast<unsigned long long>(st.st_ino), expected.size(), 1};
    }
    const auto giveBack = [&] {
        bool removed = false;
        std::string failedPath;
        detail::Proof own;
        own.same = &reserved;
        own.mark = true;
        detail::removeChecked(to, own, removed, failedPath);
        ::close(fd);
    };
    // Another program may have saved a file under the name meanwhile: it is theirs.
    if (statErr != 0 || ::lstat(to.c_str(), &st) != 0) {
        const int err = statErr != 0 ? statErr : errno;
        if (statErr == 0 && isNotThere(err)) {
            ::close(fd);
            return exists();
        }
        giveBack();
        return fromErrno(err);
    }
    if (st.st_dev != reserved.device || st.st_ino != reserved.file ||
        static_cast<unsigned long long>(st.st_size) != reserved.size) {
        ::close(fd);
        return exists();
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int err = errno;
        giveBack();
        return fromErrno(err);
    }
    // Written into just before the rename replaced it: the file goes back, and
    // what was written there takes the name again.
    std::string content;
    if (::lseek(fd, 0, SEEK_SET) == 0 && detail::readAll(fd, content).ok() && content != expected &&
        ::lstat(from.c_str(), &st) != 0 && errno == ENOENT &&
        ::rename(to.c_str(), from.c_str()) == 0) {
        const int copy = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (copy >= 0) {
            std::size_t written = 0;
            detail::writeAll(copy, content, written);
            ::close(copy);
        }
        ::close(fd);
        return exists();
    }
    ::close(fd);
    return Status::success();
}

} // namespace

} // namespace tavrin::platform
