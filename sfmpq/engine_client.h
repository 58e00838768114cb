// SFMpq.dll's side of an engine: starting one (posix_spawn, never a bare
// fork inside a host that may run threads), calling it with a deadline, and
// ending it. An engine that crashes, exits or hangs fails the call in
// progress and every later call on its connection with EIO; the host never
// sees its signals.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "sfmpq/engine_protocol.h"
#include "sfmpq/engine_sandbox.h"
#include "sfmpq/list_records.h"
#include "sfmpq/shared_area.h"

namespace sfmpq {

struct EngineConnection {
    pid_t pid = -1;
    int socket = -1;
    int dataReady = -1;
    int spaceReady = -1;
    SharedArea area;
    int failure = 0;   // EIO once the engine is gone: every call fails
    bool hung = false; // it made no progress within the deadline
    // An updating engine runs on the processor of the thread that calls it
    // (the last one it was put on; -1 before the first call).
    bool followsCaller = false;
    int processor = -1;

    // The work-ahead stream as this side sees it (stream_reader.h).
    bool streaming = false;
    NameFingerprints listed;   // the last listing's names, in order
    uint32_t nextSequence = 0; // the listing index of the next Begin
    bool inMember = false;     // a Begin was taken whose End was not
    uint32_t dataOffset = 0;   // bytes of the head Data record taken
    bool streamedOpen = false; // a member taken from the stream is open
};

// Starts an engine of `kind`. 0 or an errno value (nothing left behind).
int StartEngine(EngineKind kind, EngineConnection* engine);

// Ends the engine (at once: its work is either finished or to be discarded)
// and releases the channel.
void StopEngine(EngineConnection* engine);

// Sends `request` and waits for the reply. Returns the reply's result; on
// failure errno says why (EIO when the engine died or hung and was ended).
int CallEngine(EngineConnection* engine, engine::Request* request, engine::Reply* reply);

// As CallEngine, doing `meanwhile(context)` here while the engine works on the
// request: work of this side that does not need the reply.
int CallEngineMeanwhile(EngineConnection* engine, engine::Request* request, engine::Reply* reply,
                        void (*meanwhile)(void* context), void* context);

// Waits until the engine has published more of the stream. False (errno EIO)
// when the engine died or hung meanwhile.
bool WaitForStream(EngineConnection* engine);

// A request with every field cleared.
engine::Request NewRequest(engine::Op op);

// Copies `text` into a request's fixed field; false when it does not fit.
bool SetField(char* field, size_t size, const char* text);

} // namespace sfmpq
