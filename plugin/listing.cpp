// Archive listing: OpenArchive, ReadHeader, CloseArchive, GetPackerCaps.
#include <cstdlib>

#include "archive_library/archive_library.h"
#include "plugin/host_interface.h"
#include "plugin/host_names.h"
#include "plugin/member_listing.h"
#include "plugin/opened_archive.h"
#include "plugin/settings_reload.h"
#include "settings/plugin_settings.h"

extern "C" void* TARNEL_STDCALL OpenArchive(OpenRequest* request) {
    if (!request) {
        return nullptr;
    }
    if (request->openMode != kOpenList && request->openMode != kOpenExtract) {
        request->openResult = kResultNotSupported;
        return nullptr;
    }
    // Without the library (reported once, when the plug-in was loaded) no
    // archive can be opened; fail instead of calling through null.
    if (!ArchiveLibraryCanRead()) {
        request->openResult = kResultBadArchive;
        return nullptr;
    }
    OpenedArchive* opened = static_cast<OpenedArchive*>(std::calloc(1, sizeof(OpenedArchive)));
    if (!opened) {
        request->openResult = kResultBadArchive;
        return nullptr;
    }
    ReloadSettingsAndSetLocale();
    if (!OpenAndListArchive(request->archivePath ? request->archivePath : "", opened)) {
        std::free(opened);
        request->openResult = kResultBadArchive;
        return nullptr;
    }
    return opened;
}

extern "C" int TARNEL_STDCALL ReadHeader(void* handle, EntryHeader* header) {
    OpenedArchive* opened = static_cast<OpenedArchive*>(handle);
    if (!opened || !header) {
        return kResultEndArchive;
    }
    for (uint32_t i = opened->nextIndex; i < opened->entryCount; ++i) {
        const ListEntry& entry = opened->entries[i];
        if (entry.exists) {
            CopyMemberNameForHost(header->fileName, sizeof(ListEntry::name), entry.name);
            header->packSize = entry.compressedSize;
            header->unpackSize = entry.fullSize;
            header->fileTime = 0xFFFFFFFFu;
            opened->nextIndex = i + 1;
            // The host asks for the next entries soon. A large table's
            // entries lie 280 bytes apart and are long out of the cache:
            // the first two lines of one a few entries on (its sizes and
            // most names) are asked for now, while the host works.
            if (i + 4 < opened->entryCount) {
                const char* ahead = reinterpret_cast<const char*>(&opened->entries[i + 4]);
                __builtin_prefetch(ahead);
                __builtin_prefetch(ahead + 64);
            }
            return kResultOk;
        }
    }
    return kResultEndArchive;
}

extern "C" int TARNEL_STDCALL CloseArchive(void* handle) {
    OpenedArchive* opened = static_cast<OpenedArchive*>(handle);
    if (!opened) {
        return kResultOk;
    }
    CloseListedArchive(opened);
    std::free(opened);
    return kResultOk;
}

extern "C" int TARNEL_STDCALL GetPackerCaps(void) {
    return kCapsNew | kCapsModify | kCapsMultiple | kCapsDelete | kCapsOptions | kCapsByContent;
}
