// The Win32 backend: thin calls to the Windows API.
#include "platform/platform.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

uint32_t PlatformGetProfileString(const char* section, const char* key, const char* def,
                                  char* buffer, uint32_t size, const char* file) {
    return GetPrivateProfileStringA(section, key, def, buffer, size, file);
}

int PlatformWriteProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
    return WritePrivateProfileStringA(section, key, value, file);
}

int PlatformMessageBox(const char* text, const char* caption, uint32_t type) {
    DWORD saved = GetLastError();
    int button = MessageBoxA(nullptr, text, caption, type);
    SetLastError(saved);
    return button;
}

uint32_t PlatformGetLastError(void) {
    return GetLastError();
}

void PlatformSetLastError(uint32_t code) {
    SetLastError(code);
}

bool PlatformErrorText(uint32_t code, char* buffer, size_t size) {
    if (size == 0) {
        return false;
    }
    buffer[0] = '\0';
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0 || !text) {
        return false;
    }
    size_t copied = strnlen(text, size - 1);
    std::memcpy(buffer, text, copied);
    buffer[copied] = '\0';
    LocalFree(text);
    return true;
}

PlatformFile PlatformCreateNewFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

PlatformFile PlatformCreateTempFileBeside(const char* path, char* tempPath, size_t tempPathSize) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned tag =
            (GetCurrentProcessId() * 2654435761u) ^ GetTickCount() ^ (++counter * 40503u);
        const char* separator = nullptr;
        for (const char* p = path; *p; ++p) {
            if (*p == '\\' || *p == '/') {
                separator = p;
            }
        }
        int folderLength = separator ? static_cast<int>(separator - path + 1) : 0;
        int length =
            std::snprintf(tempPath, tempPathSize, "%.*s~tn%08x.tmp", folderLength, path, tag);
        if (length < 0 || static_cast<size_t>(length) >= tempPathSize) {
            if (tempPathSize > 0) {
                tempPath[0] = '\0';
            }
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return nullptr;
        }
        HANDLE file = CreateFileA(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            tempPath[0] = '\0';
            return nullptr;
        }
    }
    tempPath[0] = '\0';
    return nullptr;
}

int PlatformWriteFile(PlatformFile file, const void* data, uint32_t count, uint32_t* written) {
    DWORD done = 0;
    BOOL ok = WriteFile(static_cast<HANDLE>(file), data, count, &done, nullptr);
    if (written) {
        *written = done;
    }
    return ok && done == count;
}

int PlatformCloseFile(PlatformFile file) {
    return file && CloseHandle(static_cast<HANDLE>(file));
}

int PlatformDeleteFile(const char* path) {
    return DeleteFileA(path);
}

int PlatformRemoveEmptyFolder(const char* path) {
    // A junction or folder link is removed as the link it is.
    return RemoveDirectoryA(path);
}

int PlatformReplaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING);
}

PlatformModule PlatformGetModuleHandle(const char* name) {
    return GetModuleHandleA(name);
}

uint32_t PlatformGetModuleFileName(PlatformModule module, char* buffer, uint32_t size) {
    return GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}

PlatformModule PlatformLoadLibrary(const char* name) {
    return LoadLibraryA(name);
}

void* PlatformGetProcAddress(PlatformModule module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

int PlatformFreeLibrary(PlatformModule module) {
    return FreeLibrary(static_cast<HMODULE>(module));
}

uint32_t PlatformGetCurrentDirectory(uint32_t size, char* buffer) {
    return GetCurrentDirectoryA(size, buffer);
}

int PlatformSetCurrentDirectory(const char* path) {
    return SetCurrentDirectoryA(path);
}

intptr_t PlatformDialogBox(PlatformModule instance, const PlatformDialogTemplate* dialog,
                           PlatformWindow parent, PlatformDialogProc procedure, intptr_t param) {
    return DialogBoxParamA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(dialog->resourceId),
                           static_cast<HWND>(parent), reinterpret_cast<DLGPROC>(procedure),
                           static_cast<LPARAM>(param));
}

void PlatformCheckDialogButton(PlatformWindow dialog, int id) {
    SendMessageA(GetDlgItem(static_cast<HWND>(dialog), id), BM_SETCHECK, BST_CHECKED, 0);
}

uint32_t PlatformIsDialogButtonChecked(PlatformWindow dialog, int id) {
    return IsDlgButtonChecked(static_cast<HWND>(dialog), id);
}

int PlatformSetDialogItemText(PlatformWindow dialog, int id, const char* text) {
    return SetDlgItemTextA(static_cast<HWND>(dialog), id, text);
}

uint32_t PlatformGetDialogItemText(PlatformWindow dialog, int id, char* buffer, int size) {
    if (size <= 0) {
        return 0;
    }
    buffer[0] = '\0'; // a failed call leaves the buffer as it was
    return GetDlgItemTextA(static_cast<HWND>(dialog), id, buffer, size);
}

int PlatformEndDialog(PlatformWindow dialog, intptr_t result) {
    return EndDialog(static_cast<HWND>(dialog), result);
}

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

// Committed pages come zeroed; small blocks come from the heap.
void* PlatformAllocateLarge(size_t size) {
    if (size < (size_t(64) << 10)) {
        return std::calloc(size ? size : 1, 1);
    }
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void PlatformFreeLarge(void* block, size_t size) {
    if (!block) {
        return;
    }
    if (size < (size_t(64) << 10)) {
        std::free(block);
    } else {
        VirtualFree(block, 0, MEM_RELEASE);
    }
}
