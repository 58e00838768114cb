// What extraction shares with the rest of the plug-in and its tests.
#pragma once

#include <cstddef>
#include <cstdint>

// Every read and write of an extraction moves at most this many bytes, and
// the one transfer buffer it holds has this size (1 MiB).
constexpr uint32_t kTransferChunkSize = 0x100000;

// Obtains the transfer buffer (released with std::free); null when memory
// is short. The heap by default; tests replace it to see how an extraction
// behaves without memory.
extern void* (*AllocateTransferBuffer)(size_t size);
