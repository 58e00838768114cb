#!/bin/sh
# Makes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/)
# with the project's own tarnel under a range of settings, and with Debian's
# smpq for what tarnel never writes (newer formats, single units, sector
# checksums, other compressions). Every archive is a few KiB.
#
#   tests/fuzz/make_corpus.sh [TARNEL]
#
# TARNEL defaults to build/native/out/tarnel (built by
# `cmake --build --preset native`). The corpora are replaced whole; commit
# them. Seeds must go through every target cleanly on the build that makes
# them (the replay tests check that).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
tarnel=${1:-$root/build/native/out/tarnel}
corpus=$root/tests/fuzz/corpus
[ -x "$tarnel" ] || { echo "make_corpus: no tarnel at $tarnel" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$work/src
archives=$work/archives
settings=$work/settings
mkdir -p "$src/docs" "$archives" "$settings"

# The files to add: text, bytes that do not compress, a 16-bit PCM wave of
# two sectors, a stored ending, an empty file, headers that listing
# recognises, and a file in a folder.
python3 - "$src" <<'EOF'
import struct, sys
src = sys.argv[1]
def put(name, data):
    with open(f"{src}/{name}", "wb") as f:
        f.write(data)
state = 12345
def noise(n):
    global state
    out = bytearray()
    for _ in range(n):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(state >> 24)
    return bytes(out)
words = b"archive member sector locale hash block table list "
put("readme.txt", (b"This archive holds the seed files.\n" + words * 12)[:700])
put("data.bin", noise(600))
samples = b"".join(struct.pack("<h", ((i * 37) % 2000) - 1000) for i in range(2600))
fmt = struct.pack("<HHIIHH", 1, 1, 22050, 44100, 2, 16)
put("sound.wav", b"RIFF" + struct.pack("<I", 36 + len(samples)) + b"WAVEfmt " +
    struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(samples)) + samples)
put("music.mp3", b"ID3\x03\x00\x00\x00\x00\x00\x00" + noise(300))
put("empty.txt", b"")
put("sprite.blp", b"BLP1" + noise(200))
put("model.mdx", b"MDLXVERS" + noise(120))
put("docs/guide.txt", b"A file in a folder.\n" * 10)
EOF
files="readme.txt data.bin sound.wav music.mp3 empty.txt sprite.blp model.mdx docs"

# add NAME SETTINGS-LINES: an archive of every file (or of $only) made with
# those settings.
add() {
    name=$1
    shift
    # The first of two same keys counts: MaxFiles=16 is only the default.
    {
        echo '[TarnelPlugin]'
        for line in "$@"; do
            echo "$line"
        done
        echo 'MaxFiles=16'
    } >"$settings/$name.ini"
    # shellcheck disable=SC2086
    "$tarnel" --settings "$settings/$name.ini" add "$archives/$name" -C "$src" \
        ${only:-$files} >/dev/null
}

add default.mpq
add zlib.mpq CompType=2
add bzip2.mpq CompType=16
add stored.mpq 'NoCompExt=txt,bin,wav,mp3,blp,mdx'
add german.mpq LocaleID=1031
add lossless-wave.mpq AudioQuality=1
only='readme.txt sound.wav' add tiny-table.mpq MaxFiles=4

# Members deleted and replaced: deleted slots and a compacted archive.
cp "$archives/default.mpq" "$archives/deleted.mpq"
"$tarnel" --settings "$settings/default.mpq.ini" delete "$archives/deleted.mpq" \
    data.bin sprite.blp >/dev/null
cp "$archives/zlib.mpq" "$archives/replaced.mpq"
cp "$src/data.bin" "$work/readme.txt"
"$tarnel" --settings "$settings/zlib.mpq.ini" add "$archives/replaced.mpq" -C "$work" \
    readme.txt >/dev/null

# What only another writer makes.
if command -v smpq >/dev/null; then
    smpqadd() {
        name=$1
        shift
        (cd "$src" && smpq -c -q -A -m 16 "$@" "$archives/$name" readme.txt data.bin sound.wav)
    }
    # shellcheck disable=SC2086
    (cd "$src" && smpq -c -q -A -M 1 -m 16 "$archives/smpq-v1-zlib.mpq" $files)
    smpqadd smpq-v1-single-unit.mpq -M 1 -U
    smpqadd smpq-v1-sector-crc.mpq -M 1 -S -C ZLIB+PKWARE
    smpqadd smpq-v1-fixed-key.mpq -M 1 -E -F -C HUFFMANN
    smpqadd smpq-v2-zlib.mpq -M 2 -C ZLIB
    smpqadd smpq-v3-bzip2.mpq -M 3 -C BZIP2
    smpqadd smpq-v4-zlib.mpq -M 4
else
    echo "make_corpus: smpq is not installed; its archives are left out" >&2
fi

# Archives seed the three archive targets.
for target in list extract update; do
    rm -rf "${corpus:?}/$target"
    mkdir -p "$corpus/$target"
    cp "$archives"/* "$corpus/$target/"
done

# Settings files: each key alone and together, odd spellings, and the
# settings every archive above was made with.
rm -rf "${corpus:?}/settings"
mkdir -p "$corpus/settings"
s=$corpus/settings
cp "$settings"/*.ini "$s/"
: >"$s/empty.ini"
printf '[TarnelPlugin]\r\nCompType=2\r\nLocaleID=1033\r\nMaxFiles=64\r\n' >"$s/crlf.ini"
cat >"$s/every-key.ini" <<EOF
[TarnelPlugin]
CompType=0
LocaleID=0
MaxFiles=4096
MPQDeflateExt=w3m,w3x,war3patch.mpq,war3.mpq
AudioExt=wav
AudioQuality=0
NoCompExt=bik,smk,mp3,ogg,mpq,w3m
FileLists=names.txt,/nonexistent/list.txt
SimNameFileList=0
EOF
cat >"$s/quoted-and-spaced.ini" <<'EOF'
; a comment
[Other]
CompType=16
[TarnelPlugin]
CompType = "2"
  LocaleID=  +1031x
MaxFiles=-5
AudioExt="wav, txt"
NoCompExt=,,txt,,
EOF
cat >"$s/same-name-list.ini" <<EOF
[TarnelPlugin]
FileLists=lists/new.txt,lists/input.txt
SimNameFileList=1
EOF
printf '[TarnelPlugin]\nMaxFiles=0\nAudioExt=txt,wav,mp3\nAudioQuality=7\n' >"$s/all-audio.ini"
printf '[TarnelPlugin]\nNoCompExt=t,v,3\nMPQDeflateExt=mpq\n' >"$s/short-endings.ini"
printf '[TarnelPlugin]\nCompType=2\n[TarnelPlugin]\nCompType=8\n' >"$s/twice.ini"
echo "make_corpus: $(ls "$archives" | wc -l) archives, $(ls "$s" | wc -l) settings files"
