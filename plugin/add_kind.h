// How packing adds each file: the compression type of the archive and the
// kind of each file, both chosen from the settings' suffix lists.
#pragma once

#include <cstdint>

enum class AddKind {
    Stored,     // neither compressed nor encrypted
    Wave,       // through the library's wave call, with the wave quality
    Compressed, // compressed and encrypted with the archive's compression type
};

// The kind of the file listed as `name`: Stored when it ends with an entry
// of NoCompExt, else Wave when it ends with an entry of AudioExt, else
// Compressed. Letter case aside; no dot implied.
AddKind ChooseAddKind(const char* name);

// The compression type for the Compressed files of one packing call: a
// non-zero CompType as it is; when CompType is 0, Deflate (2) for an archive
// path ending with an entry of MPQDeflateExt and Standard (8) otherwise.
uint32_t ChooseArchiveCompression(const char* archivePath);
