// An archive opened for reading and listed: the choice of where its member
// names come from, shared by OpenArchive and by the deletion of folders.
#pragma once

#include "plugin/opened_archive.h"

// Opens the archive at `path` through the library and has it fill one
// record per member slot, the names taken from the archive's "(listfile)",
// else from the configured external name lists. The caller has loaded the
// settings and set the locale. Returns false, with nothing left open or
// allocated, when the archive cannot be opened, memory is short, or its
// "(listfile)" cannot be sized or read (which is shown to the user).
bool OpenAndListArchive(const char* path, OpenedArchive* opened);

// Closes the library's archive and releases the records.
void CloseListedArchive(OpenedArchive* opened);

// Releases the records alone (the archive closed already).
void FreeListedEntries(OpenedArchive* opened);
