# 32-bit winelib modules: ELF shared objects with a Windows export table,
# made by Debian's winegcc/winebuild (wine32-tools:i386), which Wine loads
# as builtin DLLs. Used only by the Windows suite's test build of SFMpq.dll.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER winegcc)
set(CMAKE_CXX_COMPILER wineg++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
