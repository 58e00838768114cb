#!/bin/sh
# SFMpq.dll exports exactly the archive library's 16 entry points and does
# not depend on StormLib at link time (it loads it itself).
set -eu
expected="MpqAddFileToArchiveEx MpqAddWaveToArchive MpqCloseUpdatedArchive MpqDeleteFile MpqOpenArchiveForUpdate MpqSetFileLocale SFMpqDestroy SFileCloseArchive SFileCloseFile SFileGetFileInfo SFileGetFileSize SFileListFiles SFileOpenArchive SFileOpenFileEx SFileReadFile SFileSetLocale"
actual=$(nm -D --defined-only "$1" | awk '$2 ~ /^[TtWiu]$/ {print $3}' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exports differ"
  echo "expected: $expected"
  echo "actual:   $actual"
  exit 1
fi
if readelf -d "$1" | grep -q 'NEEDED.*libstorm'; then
  echo "SFMpq.dll must not link StormLib"
  exit 1
fi
echo "exports ok"
