#include "message_boxes.h"

#include <cstring>
#include <set>

#include "check.h"

namespace {

typedef int(WINAPI* MessageBoxAFn)(HWND, LPCSTR, LPCSTR, UINT);

MessageBoxAFn realMessageBoxA = nullptr;
std::vector<RecordedBox> recorded;
std::vector<SeenBox> seen;
std::set<HWND> handled;
HHOOK hook = nullptr;
std::string dialogCaption;
DialogActivated dialogHandler = nullptr;

bool FindRealMessageBox() {
    if (!realMessageBoxA) {
        realMessageBoxA = reinterpret_cast<MessageBoxAFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "MessageBoxA")));
    }
    return realMessageBoxA != nullptr;
}

int WINAPI RecordingMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    int answer = realMessageBoxA(owner, text, caption, type);
    recorded.push_back(
        {owner, text ? text : "<null>", caption ? caption : "<null>", type, directory, answer});
    return answer;
}

IMAGE_NT_HEADERS* Headers(BYTE* base) {
    return reinterpret_cast<IMAGE_NT_HEADERS*>(base +
                                               reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
}

bool WriteProtected(void* where, const void* value, size_t size) {
    DWORD old = 0;
    if (!VirtualProtect(where, size, PAGE_READWRITE, &old)) {
        return false;
    }
    std::memcpy(where, value, size);
    VirtualProtect(where, size, old, &old);
    return true;
}

std::string WindowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

LRESULT CALLBACK WatchWindows(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_DESTROYWND) {
        handled.erase(reinterpret_cast<HWND>(wParam));
    } else if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[64] = "";
        GetClassNameA(window, className, sizeof className);
        if (std::strcmp(className, "#32770") == 0 && handled.insert(window).second) {
            std::string caption = WindowText(window);
            if (dialogHandler && caption == dialogCaption) {
                dialogHandler(window);
            } else {
                seen.push_back({WindowText(GetDlgItem(window, 0xFFFF)), caption});
                PostMessageA(window, WM_COMMAND, IDOK, 0);
            }
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

} // namespace

bool ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& directory =
        Headers(base)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) {
        return false;
    }
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + d->Name), dll) != 0) {
            continue;
        }
        DWORD lookup = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookup);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) == 0) {
                ULONG_PTR value = reinterpret_cast<ULONG_PTR>(replacement);
                return WriteProtected(&slots->u1.Function, &value, sizeof value);
            }
        }
    }
    return false;
}

bool ReplaceExport(HMODULE module, const char* function, void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& directory =
        Headers(base)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0) {
        return false;
    }
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (std::strcmp(reinterpret_cast<char*>(base + names[i]), function) == 0) {
            // The address is stored relative to the module; the loader adds
            // the base with 32-bit wrap-around, so any address fits.
            DWORD relative = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(replacement) -
                                                reinterpret_cast<ULONG_PTR>(base));
            return WriteProtected(&functions[ordinals[i]], &relative, sizeof relative);
        }
    }
    return false;
}

bool RecordBoxesOf(HMODULE module) {
    return FindRealMessageBox() && ReplaceImport(module, "user32.dll", "MessageBoxA",
                                                 reinterpret_cast<void*>(&RecordingMessageBoxA));
}

bool RecordBoxesOfModulesLoadedLater() {
    return FindRealMessageBox() && ReplaceExport(GetModuleHandleA("user32.dll"), "MessageBoxA",
                                                 reinterpret_cast<void*>(&RecordingMessageBoxA));
}

bool StartWatchingScreen() {
    if (!hook) {
        hook = SetWindowsHookExA(WH_CBT, WatchWindows, nullptr, GetCurrentThreadId());
    }
    return hook != nullptr;
}

std::vector<RecordedBox> TakeRecordedBoxes() {
    std::vector<RecordedBox> out;
    out.swap(recorded);
    return out;
}

std::vector<SeenBox> TakeSeenBoxes() {
    std::vector<SeenBox> out;
    out.swap(seen);
    return out;
}

void CheckBoxes(const char* file, int line, const std::vector<ExpectedBox>& expected) {
    std::vector<RecordedBox> boxes = TakeRecordedBoxes();
    std::vector<SeenBox> onScreen = TakeSeenBoxes();
    std::vector<std::string> want, got, gotOnScreen, wantOnScreen;
    for (const ExpectedBox& box : expected) {
        char type[16];
        std::snprintf(type, sizeof type, "0x%02X", box.type);
        want.push_back(box.caption + " | " + box.text + " | " + type + " | no owner");
        wantOnScreen.push_back(box.caption + " | " + box.text);
    }
    for (const RecordedBox& box : boxes) {
        char type[16];
        std::snprintf(type, sizeof type, "0x%02X", box.type);
        got.push_back(box.caption + " | " + box.text + " | " + type + " | " +
                      (box.owner ? "owner" : "no owner"));
    }
    for (const SeenBox& box : onScreen) {
        gotOnScreen.push_back(box.caption + " | " + box.text);
    }
    if (got != want) {
        ReportFailure(file, line,
                      "message boxes as called\n  actual:   " + Show(got) +
                          "\n  expected: " + Show(want));
    }
    if (gotOnScreen != wantOnScreen) {
        ReportFailure(file, line,
                      "message boxes on screen\n  actual:   " + Show(gotOnScreen) +
                          "\n  expected: " + Show(wantOnScreen));
    }
}

void SetDialogHandler(const char* caption, DialogActivated handler) {
    dialogCaption = caption ? caption : "";
    dialogHandler = handler;
}
