// The command's operating-system services on Windows, with the 8-bit (ANSI)
// calls, since the plug-in takes its paths in the ANSI code page.
#include "host/host_os.h"

#include "host/disk_path.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

namespace host {

namespace {

std::string ErrorText(DWORD code) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (length && text) {
        result.assign(text, length);
        while (!result.empty() && (result.back() == '\r' || result.back() == '\n' ||
                                   result.back() == ' ' || result.back() == '.')) {
            result.pop_back();
        }
    }
    if (text) {
        LocalFree(text);
    }
    if (result.empty()) {
        result = "system error " + std::to_string(code);
    }
    return result;
}

} // namespace

void* LoadModule(const std::string& path, std::string& error) {
    // LOAD_WITH_ALTERED_SEARCH_PATH lets the plug-in's own imports be found
    // beside it, as a file manager loads it.
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        error = ErrorText(GetLastError());
    }
    return reinterpret_cast<void*>(module);
}

void* FindSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(void* module) {
    if (module) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
}

std::string ExecutablePath() {
    char buffer[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) {
        return "";
    }
    return std::string(buffer, length);
}

PathKind StatPath(const std::string& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return PathKind::Missing;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return PathKind::Folder;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
        return PathKind::Other;
    }
    if (size) {
        *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return PathKind::File;
}

bool IsLink(const std::string& path) {
    // Other reparse points (cloud placeholders, deduplicated files) are
    // ordinary files and folders to the user.
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (data.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
            data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

std::string PathIdentity(const std::string& path) {
    HANDLE item =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (item == INVALID_HANDLE_VALUE) {
        return "";
    }
    BY_HANDLE_FILE_INFORMATION info;
    std::string identity;
    if (GetFileInformationByHandle(item, &info)) {
        identity = std::to_string(info.dwVolumeSerialNumber) + ":" +
                   std::to_string(info.nFileIndexHigh) + ":" + std::to_string(info.nFileIndexLow);
    }
    CloseHandle(item);
    return identity;
}

bool ListFolder(const std::string& path, std::vector<std::string>& names) {
    std::string pattern = path;
    if (!pattern.empty() && !IsSeparatorOnDisk(pattern.back())) {
        pattern += '\\';
    }
    pattern += '*';
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return true;
}

bool MakeFolders(const std::string& path, std::string& error) {
    // Skip the root part ("C:\", "\\server\share\") before making folders.
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') {
        start = 2;
    } else if (path.size() >= 2 && IsSeparatorOnDisk(path[0]) && IsSeparatorOnDisk(path[1])) {
        size_t share = path.find_first_of("\\/", 2);
        share = share == std::string::npos ? path.size() : path.find_first_of("\\/", share + 1);
        start = share == std::string::npos ? path.size() : share;
    }
    for (size_t i = start + 1; i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparatorOnDisk(path[i])) {
            continue;
        }
        std::string prefix = path.substr(0, i);
        if (!CreateDirectoryA(prefix.c_str(), nullptr)) {
            DWORD code = GetLastError();
            if (code != ERROR_ALREADY_EXISTS && code != ERROR_ACCESS_DENIED) {
                error = prefix + ": " + ErrorText(code);
                return false;
            }
        }
    }
    if (StatPath(path) != PathKind::Folder) {
        error = path + ": not a folder";
        return false;
    }
    return true;
}

std::string CurrentFolder() {
    char buffer[MAX_PATH * 4];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) {
        return "";
    }
    return std::string(buffer, length);
}

std::string ResolvedPath(const std::string& path) {
    // The archive library updates an archive where it is named; links play
    // no part in where it writes.
    return path;
}

bool IsAbsolutePath(const std::string& path) {
    return (!path.empty() && IsSeparatorOnDisk(path[0])) || (path.size() >= 2 && path[1] == ':');
}

std::string LastErrorText() {
    return ErrorText(GetLastError());
}

std::string WriteDenied(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return ErrorText(GetLastError());
    }
    // A folder's permissions are in its access list, which only trying
    // tells; the plug-in's own message says so then.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_READONLY)) {
        return ErrorText(ERROR_ACCESS_DENIED);
    }
    return "";
}

void ClearSystemError() {
    SetLastError(0);
}

SystemError TakeSystemError() {
    DWORD code = GetLastError();
    SystemError error;
    switch (code) {
    case ERROR_SUCCESS:
        return error;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
        error.kind = SystemError::NoSpace;
        break;
    case ERROR_WRITE_PROTECT:
        error.kind = SystemError::ReadOnly;
        break;
    case ERROR_ACCESS_DENIED:
        error.kind = SystemError::Denied;
        break;
    case ERROR_BAD_FORMAT:
    case ERROR_FILE_CORRUPT:
        error.kind = SystemError::BadFormat;
        break;
    default:
        error.kind = SystemError::Other;
        break;
    }
    error.text = ErrorText(code);
    return error;
}

std::FILE* MessageStream() {
    return stderr;
}

// The plug-in's message boxes are windows here: nothing to hold.
void HoldPluginMessages() {}

std::string ReleasePluginMessages() {
    return "";
}

std::string Environment(const char* name) {
    char buffer[32768];
    DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) {
        return "";
    }
    return std::string(buffer, length);
}

std::string DefaultSettingsPath() {
    std::string appData = Environment("APPDATA");
    return appData.empty() ? std::string() : appData + "\\tarnel\\tarnel.ini";
}

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) {
            return columns;
        }
    }
    return 80;
}

double MonotonicSeconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

namespace {

volatile LONG interrupted = 0;

// Runs on a thread of its own for each console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    // After the first, the default handling ends the process at once, so
    // that an operation stuck inside the library can still be ended.
    if (InterlockedExchange(&interrupted, 1) != 0) {
        return FALSE;
    }
    DWORD written = 0;
    const char text[] = "\ntarnel: stopping...\n";
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, sizeof text - 1, &written, nullptr);
    if (event == CTRL_CLOSE_EVENT) {
        // The system ends the process as soon as this returns (or after a
        // few seconds): wait here so that the operation can stop cleanly and
        // the command exit first, which ends this thread too.
        Sleep(30000);
    }
    return TRUE;
}

} // namespace

void CatchInterrupts() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool InterruptRequested() {
    return InterlockedCompareExchange(&interrupted, 0, 0) != 0;
}

bool OutputClosed() {
    return false;
}

} // namespace host
