#include "sfmpq/engine_sandbox.h"

#include <cerrno>
#include <csignal>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace sfmpq {

namespace {

// System calls refused with EPERM.
const int kRefused[] = {
    SCMP_SYS(socket),
    SCMP_SYS(socketpair),
    SCMP_SYS(connect),
    SCMP_SYS(bind),
    SCMP_SYS(listen),
    SCMP_SYS(accept),
    SCMP_SYS(accept4),
    SCMP_SYS(execve),
    SCMP_SYS(execveat),
    SCMP_SYS(fork),
    SCMP_SYS(vfork),
    SCMP_SYS(clone),
    SCMP_SYS(ptrace),
    SCMP_SYS(process_vm_readv),
    SCMP_SYS(process_vm_writev),
    SCMP_SYS(mount),
    SCMP_SYS(umount2),
    SCMP_SYS(pivot_root),
    SCMP_SYS(chroot),
    SCMP_SYS(unshare),
    SCMP_SYS(setns),
    SCMP_SYS(bpf),
    SCMP_SYS(perf_event_open),
    SCMP_SYS(keyctl),
    SCMP_SYS(add_key),
    SCMP_SYS(request_key),
    SCMP_SYS(init_module),
    SCMP_SYS(finit_module),
    SCMP_SYS(delete_module),
    SCMP_SYS(kexec_load),
    SCMP_SYS(reboot),
    SCMP_SYS(swapon),
    SCMP_SYS(swapoff),
    SCMP_SYS(userfaultfd),
    SCMP_SYS(io_uring_setup),
    SCMP_SYS(setuid),
    SCMP_SYS(setgid),
    SCMP_SYS(setreuid),
    SCMP_SYS(setregid),
    SCMP_SYS(setresuid),
    SCMP_SYS(setresgid),
    SCMP_SYS(kill),
    SCMP_SYS(pidfd_open),
    SCMP_SYS(pidfd_send_signal),
};

int SetLimit(int resource, rlim_t soft, rlim_t hard) {
    struct rlimit limit = {soft, hard};
    return setrlimit(resource, &limit) == 0 ? 0 : errno;
}

// GCC says so with __SANITIZE_ADDRESS__, clang with __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SFMPQ_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SFMPQ_ADDRESS_SANITIZER 1
#endif

bool UnderAddressSanitizer() {
#if defined(SFMPQ_ADDRESS_SANITIZER)
    return true;
#else
    return false;
#endif
}

} // namespace

int RestrictEngine(EngineKind kind) {
    // A write beyond the file-size limit fails with EFBIG instead of ending
    // the engine.
    signal(SIGXFSZ, SIG_IGN);
    int error = SetLimit(RLIMIT_CORE, 0, 0);
    // AddressSanitizer reserves terabytes of address space for itself.
    if (!error && !UnderAddressSanitizer()) {
        error = SetLimit(RLIMIT_AS, kEngineAddressSpace, kEngineAddressSpace);
    }
    if (!error && kind == EngineKind::Reader) {
        error = SetLimit(RLIMIT_FSIZE, 0, 0);
    }
    if (!error && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        error = errno;
    }
    if (!error && prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
        error = errno;
    }
    if (error) {
        return error;
    }
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) {
        return ENOMEM;
    }
    // Every thread of the engine gets the filter.
    int result = seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1);
    for (int call : kRefused) {
        if (result == 0) {
            result = seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0);
        }
    }
    // glibc falls back from clone3 to clone when the kernel says it has none.
    if (result == 0) {
        result = seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    }
    if (result == 0) {
        result = seccomp_load(filter);
    }
    seccomp_release(filter);
    return result == 0 ? 0 : -result;
}

void LimitFileSize(uint64_t bytes) {
    // Limits are set in whole MiB, and only when that changes: an update of
    // many small files asks for nearly the same limit each time.
    constexpr uint64_t kStep = 1ull << 20;
    static uint64_t current = ~0ull; // nothing set yet
    uint64_t wanted = bytes > ~0ull - (kStep - 1) ? ~0ull : (bytes + kStep - 1) & ~(kStep - 1);
    if (wanted == current) {
        return;
    }
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return;
    }
    limit.rlim_cur = wanted < limit.rlim_max ? static_cast<rlim_t>(wanted) : limit.rlim_max;
    if (setrlimit(RLIMIT_FSIZE, &limit) == 0) {
        current = wanted;
    }
}

} // namespace sfmpq
