#!/bin/sh
# The Linux tarnel.wcx exports exactly the host interface's 11 entry points.
set -eu
expected="CloseArchive ConfigurePacker DeleteFiles GetPackerCaps OpenArchive PackFiles PackSetDefaultParams ProcessFile ReadHeader SetChangeVolProc SetProcessDataProc"
actual=$(nm -D --defined-only "$1" | awk '$2 ~ /^[TtWiu]$/ {print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exports differ"
  echo "expected: $expected"
  echo "actual:   $actual"
  exit 1
fi
echo "exports ok"
