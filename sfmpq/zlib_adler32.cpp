// zlib's adler32, defined by the engine itself. StormLib checks every sector
// against its checksum with it, and zlib's inflate runs it over all that it
// unpacks (StormLib ignores that result); zlib's own code does about 2.7 GB/s,
// which made the sector checks the largest cost of checking what is read.
// The dynamic linker binds the calls of StormLib and of zlib to this
// definition, since the program is searched before its libraries; where it
// does not (a StormLib linked statically), reading is only slower. The
// result is zlib's, bit for bit (Adler32 in checksums.h).
#include <zlib.h>

#include "sfmpq/checksums.h"

extern "C" __attribute__((visibility("default"))) uLong adler32(uLong adler, const Bytef* buf,
                                                                uInt len) {
    return sfmpq::Adler32(static_cast<uint32_t>(adler), buf, len);
}
