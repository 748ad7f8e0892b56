#include "platform/fs.h"
#include "platform/fs_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::platform {

namespace {

std::string programFolderOverride;

Status fromErrno(int err) {
    return Status::failure(std::strerror(err));
}

bool isHiddenName(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

bool pathExistsNoFollow(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
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
        return {Status::Kind::TargetExists, std::strerror(err)};
    }
    if (err != EPERM && err != ENOTSUP && err != EOPNOTSUPP && err != ENOSYS && err != EXDEV) {
        return fromErrno(err);
    }
    // No hard links here (FAT, exFAT): check the target just before a plain rename.
    if (pathExistsNoFollow(to)) {
        return {Status::Kind::TargetExists, std::strerror(EEXIST)};
    }
    if (::rename(from.c_str(), to.c_str()) == 0) {
        return Status::success();
    }
    return fromErrno(errno);
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
        return {Status::Kind::TargetExists, std::strerror(err)};
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
}

namespace detail {

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

FileHandle openForOutput(const std::string& path, Status* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 && error != nullptr) {
        *error = fromErrno(errno);
    }
    return fd < 0 ? invalidHandle : fd;
}

Status writeAll(FileHandle handle, std::string_view data) {
    const int fd = static_cast<int>(handle);
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fromErrno(errno);
        }
        data.remove_prefix(static_cast<std::size_t>(n));
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

void closeHandle(FileHandle handle) {
    ::close(static_cast<int>(handle));
}

Status readWholeFile(const std::string& path, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fromErrno(errno);
    }
    content.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            ::close(fd);
            return fromErrno(err);
        }
        if (n == 0) {
            break;
        }
        content.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return Status::success();
}

} // namespace detail

} // namespace tavrin::platform
