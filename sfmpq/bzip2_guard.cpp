// bzip2's BZ2_bzDecompress, seen through by the engine. StormLib unpacks a
// bzip2 sector in one call loop that ends only at the end of the stream or
// at an error; a damaged sector whose stream neither ends nor fails within
// the sector (its data runs out, or the room for what it unpacks does)
// makes every further call return BZ_OK without moving, and the loop turns
// without end. A call that returns BZ_OK and has taken no input and given no
// output cannot be followed by one that does (the input and the room given
// never change in that loop), so it is reported as damaged data instead.
// The dynamic linker binds StormLib's calls to this definition, since the
// program is searched before its libraries; where it does not (a StormLib
// linked statically), such a sector still ends at the engine's deadline.
#include <bzlib.h>
#include <dlfcn.h>

namespace {

using DecompressFn = int (*)(bz_stream*);

// bzip2's own, found once when the engine starts (before its restrictions).
const DecompressFn bzip2Decompress =
    reinterpret_cast<DecompressFn>(dlsym(RTLD_NEXT, "BZ2_bzDecompress"));

} // namespace

extern "C" __attribute__((visibility("default"))) int BZ2_bzDecompress(bz_stream* stream) {
    if (!bzip2Decompress) {
        return BZ_CONFIG_ERROR;
    }
    const unsigned int inBefore = stream->total_in_lo32;
    const unsigned int outBefore = stream->total_out_lo32;
    int result = bzip2Decompress(stream);
    if (result == BZ_OK && stream->total_in_lo32 == inBefore &&
        stream->total_out_lo32 == outBefore) {
        return BZ_DATA_ERROR;
    }
    return result;
}
