// The engine's restrictions, applied once at its start before it reads a
// byte of any archive.
#pragma once

#include <cstdint>

namespace sfmpq {

enum class EngineKind {
    Reader,  // reads archives: may write no file at all
    Updater, // updates a temporary copy: writes files within a per-request limit
};

// Limits (no core files, bounded address space, no file writes for a reader)
// and no new privileges; then a seccomp filter that refuses what an MPQ
// engine never needs: sockets, running programs, creating processes (threads
// are started before), tracing, mounts, namespaces, kernel keys and modules.
// Returns 0 or an errno value.
int RestrictEngine(EngineKind kind);

// Sets the largest file the engine may write from now on (RLIMIT_FSIZE),
// `bytes` rounded up to a whole MiB.
void LimitFileSize(uint64_t bytes);

// The address space an engine may use. Its largest allocations are a
// member stored as one unit and the tables of a large archive.
constexpr uint64_t kEngineAddressSpace = 3ull << 30;

} // namespace sfmpq
