// The engine's work-ahead: after SFMpq.dll asks for one member, the engine
// goes on opening and unpacking the members that follow it in the listing
// order into the shared ring, while the host writes out what it has. The
// host takes a member from the ring without a round trip when it asks for
// the one that comes next; any other request restarts the stream.
#pragma once

#include <cstdint>
#include <string>

#include "sfmpq/library_state.h"
#include "sfmpq/shared_area.h"

namespace sfmpq {

class WorkAhead {
  public:
    explicit WorkAhead(SharedArea* area) : area_(area) {}

    // Drops what the ring holds and starts again at the member `name` (under
    // the current locale), then the members listed after it. Writes the
    // member's Begin record before it returns.
    void RestartAt(Archive* archive, const char* name);

    // Ends the stream; the ring is left to the client.
    void Stop();

    bool active() const { return archive_ != nullptr; }

    // Does one step of work: opens the next member or unpacks the next piece
    // of the current one. False when the ring has no room for it.
    bool Step();

  private:
    uint64_t Free() const;
    // Room for a record of `span` bytes at the write position, after a Pad
    // record where the ring's end comes first. Null when there is none.
    unsigned char* Reserve(uint64_t span);
    void Publish(uint64_t span);
    void OpenNext();
    // Opens `name` and writes its Begin record; its data follows in Step.
    void Start(const char* name, uint32_t sequence);
    void WriteBegin(const char* name, uint32_t sequence, int error, uint64_t size);
    bool WriteEnd(int error);
    bool WriteData();

    SharedArea* area_;
    Archive* archive_ = nullptr;
    uint32_t next_ = 0;       // the listing index of the next member
    HANDLE member_ = nullptr; // the member being unpacked
    uint64_t remaining_ = 0;  // its bytes still to come
    bool endPending_ = false; // its End record is still to be written
    int endError_ = 0;
    MemberCheck check_; // its checksum, taken as it is read
};

} // namespace sfmpq
