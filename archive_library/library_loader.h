// The library loader: loads the archive library from the plug-in's own
// folder when the plug-in is loaded, binds its entry points into
// ArchiveLibrary, and releases it when the plug-in is unloaded.
#pragma once

struct LibraryLoader {
    // Loads "SFMpq.dll" with the plug-in's folder (or, when the plug-in's
    // file is not named "tarnel.wcx", the host program's folder) as the
    // current directory, restores the current directory, and binds every
    // entry point the library exports. Tells the user once when the library
    // cannot be loaded. Does nothing when a library is already bound.
    LibraryLoader();

    // Clears every entry point, calls SFMpqDestroy when bound, and frees the
    // library.
    ~LibraryLoader();

    LibraryLoader(const LibraryLoader&) = delete;
    LibraryLoader& operator=(const LibraryLoader&) = delete;
};
