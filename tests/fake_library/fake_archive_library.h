// A scriptable stand-in for the archive library, for unit tests that drive
// the plug-in through its entry points. Bind() points every entry of
// ArchiveLibrary at the fake; each call is recorded as one line of text,
// "Name(arg, arg, ...)", and answered from the script below.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive_library/archive_library.h"

struct FakeArchiveLibrary {
    // ---- the script ----------------------------------------------------
    // Reading side.
    bool openArchiveSucceeds = true;
    uint32_t slotCount = 0;                       // SFileGetFileInfo(h, 2)
    std::vector<ListEntry> listing;               // what SFileListFiles writes, from record 0
    int listFilesResult = 1;                      // what SFileListFiles returns
    std::map<std::string, std::string> members;   // member name -> content
    std::map<std::string, uint32_t> sizeOverride; // SFileGetFileSize result by name
    uint32_t maxBytesPerRead = UINT32_MAX;        // deliver at most this much per read
    int failReadAt = 0;                           // the n-th read (1-based) fails; 0 never
    int zeroReadAt = 0;                           // the n-th read delivers 0 bytes and succeeds
    // Update side.
    MpqHandle updateHandle = reinterpret_cast<MpqHandle>(static_cast<intptr_t>(0x3000));
    uint32_t updateOpenError = 0;            // last error left by a failed open
    std::map<std::string, int> addResult;    // by member name; default 1
    std::map<std::string, int> deleteResult; // by member name; default 1
    int closeUpdatedResult = 1;
    uint32_t closeUpdatedError = 0; // last error left by a failed close
    // Optional hook run inside every recorded call, after recording it.
    std::function<void(const std::string& call)> onCall;

    // ---- what happened -------------------------------------------------
    std::vector<std::string> calls;
    int openMembers = 0;  // members opened and not yet closed
    int openArchives = 0; // archives opened and not yet closed
    int readCount = 0;
    std::vector<uint32_t> readSizes; // the count asked by each read

    // Resets the script and the record and binds ArchiveLibrary to the fake.
    void Reset();
    // Points every ArchiveLibrary entry at the fake.
    void Bind();
    // Adds a member: in `members`, and as an existing record of the listing.
    void AddMember(const std::string& name, const std::string& content,
                   uint32_t compressedSize = 0);
    // The recorded calls whose text starts with `prefix`.
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
};

// The one fake of the test process.
extern FakeArchiveLibrary Fake;

// Handles the fake hands out, as they appear in the recorded calls.
#define FAKE_ARCHIVE_HANDLE reinterpret_cast<MpqHandle>(static_cast<intptr_t>(0x1000))
