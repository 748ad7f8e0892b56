// Runs code in a child process under ptrace, so that a test can stop it at an
// exact system call: kill it there, or act as another program would at that
// moment. Linux only.
#pragma once

#include <array>
#include <climits>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/ptrace.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrin::testing {

struct TraceResult {
    bool traced = false; // the child could be traced at all
    bool killed = false; // killed at the call asked for, before it ran
    long calls = 0;      // system calls the child entered
};

// A system call of the child, at its entry.
struct SystemCall {
    pid_t pid = 0;
    long call = 0; // 1, 2, ... in the order the child made them
    long nr = 0;   // the system's call number
    std::array<std::uint64_t, 6> args{};
};

// What becomes of a call: it runs, the child is killed at its entry, or (on
// x86-64) it fails with the error number `fail` without running.
struct Verdict {
    bool kill = false;
    int fail = 0;
};

// True where a call can be made to fail.
inline constexpr bool canFailCalls =
#ifdef __x86_64__
    true;
#else
    false;
#endif

// Runs `body` in a child. At the entry of each system call `atCall` sees it
// and gives its verdict: when the child is killed there, the calls before it
// have run in full and this one not at all. Without a kill the child runs to
// its end.
inline TraceResult traceCalls(const std::function<void()>& body,
                              const std::function<Verdict(const SystemCall&)>& atCall) {
    TraceResult result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            ::_exit(99);
        }
        ::raise(SIGSTOP);
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFSTOPPED(status)) {
        return result;
    }
    result.traced = true;
    ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    long deliver = 0;
    int failing = 0; // the error the call under way is to end with
    for (;;) {
        ::ptrace(PTRACE_SYSCALL, pid, nullptr, deliver);
        deliver = 0;
        if (::waitpid(pid, &status, 0) != pid || WIFEXITED(status) || WIFSIGNALED(status)) {
            return result;
        }
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            deliver = WSTOPSIG(status); // a signal of the child's own
            continue;
        }
        __ptrace_syscall_info info{};
        ::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info);
        if (info.op != PTRACE_SYSCALL_INFO_ENTRY) {
#ifdef __x86_64__
            if (failing != 0) {
                user_regs_struct regs{};
                ::ptrace(PTRACE_GETREGS, pid, nullptr, &regs);
                regs.rax = static_cast<unsigned long long>(-failing);
                ::ptrace(PTRACE_SETREGS, pid, nullptr, &regs);
                failing = 0;
            }
#endif
            continue;
        }
        SystemCall call;
        call.pid = pid;
        call.call = ++result.calls;
        call.nr = static_cast<long>(info.entry.nr);
        for (std::size_t i = 0; i < call.args.size(); ++i) {
            call.args[i] = info.entry.args[i];
        }
        const Verdict verdict = atCall(call);
        if (verdict.kill) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.killed = true;
            return result;
        }
#ifdef __x86_64__
        if (verdict.fail != 0) {
            // No call has number -1: the system skips it, and its result is set at its exit.
            user_regs_struct regs{};
            ::ptrace(PTRACE_GETREGS, pid, nullptr, &regs);
            regs.orig_rax = static_cast<unsigned long long>(-1);
            ::ptrace(PTRACE_SETREGS, pid, nullptr, &regs);
            failing = verdict.fail;
        }
#endif
    }
}

// As traceCalls, with the call's number and the system's call number.
inline TraceResult runTraced(const std::function<void()>& body,
                             const std::function<bool(long call, long nr)>& atCall) {
    return traceCalls(body, [&](const SystemCall& c) { return Verdict{atCall(c.call, c.nr)}; });
}

// `size` bytes of the stopped child's memory at `address`.
inline std::string childBytes(pid_t pid, std::uint64_t address, std::size_t size) {
    std::string out(size, '\0');
    iovec local{out.data(), size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const ssize_t n = ::process_vm_readv(pid, &local, 1, &remote, 1, 0);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

// The text the stopped child has at `address`, up to its NUL; read a page at
// most at a time, so that the read never runs past the child's memory.
inline std::string childString(pid_t pid, std::uint64_t address) {
    std::string out;
    for (;;) {
        const std::size_t chunk = 4096 - address % 4096;
        const std::string bytes = childBytes(pid, address, chunk);
        const std::size_t end = bytes.find('\0');
        out += bytes.substr(0, end);
        if (end != std::string::npos || bytes.size() < chunk || out.size() > PATH_MAX) {
            return out;
        }
        address += chunk;
    }
}

// What the child's file descriptor `fd` is open on, as a path.
inline std::string childFdPath(pid_t pid, std::uint64_t fd) {
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The folder or file `dirFd` of a *at call stands for: the child's working
// folder for AT_FDCWD.
inline std::string childAtFolder(pid_t pid, std::uint64_t dirFd) {
    if (static_cast<int>(dirFd) != AT_FDCWD) {
        return childFdPath(pid, dirFd);
    }
    const std::string link = "/proc/" + std::to_string(pid) + "/cwd";
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The path that a call's folder `dirFd` and name at `address` give together:
// a relative name is taken within that folder, and an empty one is the folder.
inline std::string childAtPath(pid_t pid, std::uint64_t dirFd, std::uint64_t address) {
    const std::string name = childString(pid, address);
    return name.empty()          ? childAtFolder(pid, dirFd)
           : name.front() == '/' ? name
                                 : childAtFolder(pid, dirFd) + "/" + name;
}

// Runs `body` in a child and kills it at the entry of its `call`-th system call.
inline TraceResult killAtCall(const std::function<void()>& body, long call) {
    return runTraced(body, [call](long n, long) { return n == call; });
}

} // namespace tavrin::testing
