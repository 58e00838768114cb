#include "archive_library/archive_library.h"

ArchiveLibraryRecord ArchiveLibrary = {};

bool ArchiveLibraryCanRead(void) {
    const ArchiveLibraryRecord& l = ArchiveLibrary;
    return l.SFileSetLocale && l.SFileOpenArchive && l.SFileGetFileInfo && l.SFileListFiles &&
           l.SFileOpenFileEx && l.SFileGetFileSize && l.SFileReadFile && l.SFileCloseFile &&
           l.SFileCloseArchive;
}

bool ArchiveLibraryCanUpdate(void) {
    const ArchiveLibraryRecord& l = ArchiveLibrary;
    return l.SFileSetLocale && l.MpqOpenArchiveForUpdate && l.MpqAddFileToArchiveEx &&
           l.MpqAddWaveToArchive && l.MpqDeleteFile && l.MpqSetFileLocale &&
           l.MpqCloseUpdatedArchive;
}
