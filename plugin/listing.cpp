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
