// SFMpq.dll's side of the engine's work-ahead stream (engine_stream.h): a
// member asked for in listing order is taken from the shared ring without a
// round trip; any other member restarts the stream at it.
#pragma once

#include <cstdint>

#include "sfmpq/engine_client.h"

namespace sfmpq {

struct StreamedMember {
    uint64_t size = 0;
    bool ended = false; // its End record was taken
    int endError = 0;   // the engine's read failed there
};

// Takes the member `name` (opened under `locale`) from the stream, restarting
// the stream at it when it is not what comes next. 1, or 0 with errno (the
// engine could not open it, or died).
int TakeStreamedMember(EngineConnection* engine, const char* name, uint32_t locale,
                       StreamedMember* member);

// Reads the member taken last, as SFileReadFile does: fewer bytes at its end,
// 0 after it. 1, or 0 with errno.
int ReadStreamedMember(EngineConnection* engine, StreamedMember* member, void* buffer,
                       uint32_t count, uint32_t* read);

// Forgets the stream (the engine drops it when it lists).
void ResetStream(EngineConnection* engine);

} // namespace sfmpq
