// Runs code in a child process under ptrace, so that a test can stop it at an
// exact system call: kill it there, or act as another program would at that
// moment. Linux only.
#pragma once

#include <csignal>
#include <functional>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrin::testing {

struct TraceResult {
    bool traced = false; // the child could be traced at all
    bool killed = false; // killed at the call asked for, before it ran
    long calls = 0;      // system calls the child entered
};

// Runs `body` in a child. At the entry of each system call `atCall` gets its
// number (1, 2, ...) and the system's call number; when it answers true the
// child is killed there, so the calls before it have run in full and this
// one not at all. Without a kill the child runs to its end.
inline TraceResult runTraced(const std::function<void()>& body,
                             const std::function<bool(long call, long nr)>& atCall) {
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
            continue;
        }
        if (atCall(++result.calls, static_cast<long>(info.entry.nr))) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.killed = true;
            return result;
        }
    }
}

// Runs `body` in a child and kills it at the entry of its `call`-th system call.
inline TraceResult killAtCall(const std::function<void()>& body, long call) {
    return runTraced(body, [call](long n, long) { return n == call; });
}

} // namespace tavrin::testing
