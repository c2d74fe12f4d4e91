#include "sandbox.h"

#include <cerrno>
#include <cstddef>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SANITIZED 1
#endif
#endif
#ifndef SANITIZED
#define SANITIZED 0
#endif

namespace ferry {

namespace {

void Limit(int resource, rlim_t value) {
    rlimit r{value, value};
    rlimit old{};
    if (getrlimit(resource, &old) == 0 && old.rlim_max != RLIM_INFINITY && old.rlim_max < value)
        r = {old.rlim_max, old.rlim_max};
    setrlimit(resource, &r);
}

// Refuses the system calls that reach the network or start programs; the socket to the
// caller is open already and stays usable.
bool FilterSyscalls() {
#if defined(__x86_64__)
    constexpr unsigned arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr unsigned arch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
    const unsigned denied[] = {SYS_socket, SYS_execve, SYS_execveat, SYS_ptrace};
    sock_filter program[4 + 2 * (sizeof denied / sizeof denied[0]) + 1];
    std::size_t n = 0;
    program[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    program[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0);
    program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    program[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    for (unsigned nr : denied) {
        program[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 1);
        program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA));
    }
    program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    sock_fprog fprog{static_cast<unsigned short>(n), program};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) == 0;
}

} // namespace

SandboxState EnterSandbox() {
    SandboxState state;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !SANITIZED
    // (the sanitizers' shadow memory alone is larger: their builds go without)
    Limit(RLIMIT_AS, HelperAddressSpace);
#endif
    Limit(RLIMIT_CORE, 0);
    Limit(RLIMIT_FSIZE, 0);
    Limit(RLIMIT_NOFILE, 64);
    // A user namespace lets an unprivileged process have a network namespace of its own;
    // where those are not allowed, root can still have the network one alone.
    state.NetworkNamespace =
        unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0 || unshare(CLONE_NEWNET) == 0;
    state.SyscallFilter = FilterSyscalls();
    return state;
}

void AllowCpuSeconds(int seconds) {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    const rlim_t spent = static_cast<rlim_t>(use.ru_utime.tv_sec + use.ru_stime.tv_sec + 1);
    rlimit r{};
    getrlimit(RLIMIT_CPU, &r);
    r.rlim_cur = spent + static_cast<rlim_t>(seconds);
    if (r.rlim_max != RLIM_INFINITY && r.rlim_cur > r.rlim_max)
        r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_CPU, &r);
}

} // namespace ferry
