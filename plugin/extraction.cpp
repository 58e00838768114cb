// Extraction: ProcessFile (skip, test or extract the member that ReadHeader
// returned last), SetProcessDataProc with the process-wide progress callback
// slot, and SetChangeVolProc.
//
// An extraction never leaves a partial or damaged file under the member's
// name: a failure or a stop removes what was written, and an existing
// destination keeps its content, since its replacement is written beside it
// and moved over it only once every byte is written.
#include "plugin/extraction.h"
#include "platform/bounded_text.h"

#include <cstdlib>
#include <cstring>

#include "archive_library/archive_library.h"
#include "platform/platform.h"
#include "plugin/host_interface.h"
#include "plugin/opened_archive.h"
#include "plugin/progress.h"

void* (*AllocateTransferBuffer)(size_t size) = std::malloc;

namespace {

// The host's callback, the last one SetProcessDataProc handed over.
ProgressCallback progressCallback = nullptr;

// Room for a destination name and the suffix of its temporary file.
constexpr size_t kTempPathSize = 1024;

// Reads the open member `member` of `size` bytes from start to end in chunks
// of at most 1 MiB through `buffer`, telling the host before each chunk, and
// writes each chunk to `destination` unless it is null (a test). Returns 0,
// 12 when a read or write fails or delivers nothing, 21 when the host asked
// to stop.
int TransferMember(MpqHandle member, uint32_t size, char* progressName, char* buffer,
                   PlatformFile destination) {
    uint32_t left = size;
    while (left != 0) {
        uint32_t chunk = left < kTransferChunkSize ? left : kTransferChunkSize;
        if (!ReportProgress(progressName, chunk)) {
            return kResultAborted;
        }
        uint32_t read = 0;
        if (!ArchiveLibrary.SFileReadFile(member, buffer, chunk, &read, nullptr) || read == 0 ||
            read > chunk) {
            return kResultBadData;
        }
        if (destination) {
            uint32_t written = 0;
            if (!PlatformWriteFile(destination, buffer, read, &written) || written != read) {
                return kResultBadData;
            }
        }
        left -= read;
    }
    return kResultOk;
}

// Copies the open member to `destName`. A new file is created under its own
// name, exclusively, and removed again when the copy does not complete. An
// existing file is never touched until the copy is complete: the data goes
// to a temporary file beside it, which then replaces it in one step. Returns
// 0, 12 (size unknown, read or write failed), 16 (the destination cannot be
// created or replaced) or 21 (stopped).
int ExtractMember(MpqHandle member, const char* destName, char* progressName, char* buffer) {
    char tempPath[kTempPathSize] = "";
    PlatformFile file = PlatformCreateNewFile(destName);
    const char* writtenPath = destName;
    if (!file) {
        file = PlatformCreateTempFileBeside(destName, tempPath, sizeof tempPath);
        writtenPath = tempPath;
    }
    if (!file) {
        return kResultECreate;
    }
    uint32_t size = ArchiveLibrary.SFileGetFileSize(member, nullptr);
    int result = (size == kFileSizeUnknown)
                     ? static_cast<int>(kResultBadData)
                     : TransferMember(member, size, progressName, buffer, file);
    // Closing can be where a full disk shows itself.
    if (!PlatformCloseFile(file) && result == kResultOk) {
        result = kResultBadData;
    }
    if (result == kResultOk && writtenPath == tempPath &&
        !PlatformReplaceFile(tempPath, destName)) {
        result = kResultECreate;
    }
    if (result != kResultOk) {
        PlatformDeleteFile(writtenPath);
    }
    return result;
}

// Reads the open member through without writing it anywhere.
int TestMember(MpqHandle member, char* progressName, char* buffer) {
    uint32_t size = ArchiveLibrary.SFileGetFileSize(member, nullptr);
    if (size == kFileSizeUnknown) {
        return kResultBadData;
    }
    return TransferMember(member, size, progressName, buffer, nullptr);
}

} // namespace

bool ReportProgress(char* name, uint32_t count) {
    return !progressCallback || progressCallback(name, static_cast<int>(count)) != 0;
}

extern "C" int TARNEL_STDCALL ProcessFile(void* handle, int operation, char*, char* destName) {
    if (operation == kOpSkip) {
        return kResultOk;
    }
    if (operation != kOpTest && operation != kOpExtract) {
        return kResultNotSupported;
    }
    const ListEntry* entry = CurrentEntry(static_cast<const OpenedArchive*>(handle));
    if (!entry || !ArchiveLibraryCanRead()) {
        return kResultBadData;
    }
    if (operation == kOpExtract && (!destName || !*destName)) {
        return kResultECreate;
    }
    char* buffer = static_cast<char*>(AllocateTransferBuffer(kTransferChunkSize));
    if (!buffer) {
        return kResultNoMemory;
    }
    // The library wrote the record; its name is used only up to 259
    // characters even if it came unterminated.
    char memberName[sizeof(ListEntry::name)];
    CopyBounded(memberName, sizeof memberName, entry->name);
    const OpenedArchive* opened = static_cast<const OpenedArchive*>(handle);
    MpqHandle member = nullptr;
    if (!ArchiveLibrary.SFileOpenFileEx(opened->archive, memberName, 0, &member)) {
        std::free(buffer);
        return kResultBadData;
    }
    int result = (operation == kOpTest) ? TestMember(member, memberName, buffer)
                                        : ExtractMember(member, destName, memberName, buffer);
    ArchiveLibrary.SFileCloseFile(member);
    std::free(buffer);
    return result;
}

extern "C" void TARNEL_STDCALL SetProcessDataProc(void*, ProgressCallback callback) {
    progressCallback = callback;
}

extern "C" void TARNEL_STDCALL SetChangeVolProc(void*, ChangeVolumeCallback) {}
