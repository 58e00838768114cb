#include "dialog_robot.h"

#include "message_boxes.h"
#include "plugin_under_test.h"

namespace {

const int kRadioButtons[] = {1005, 1002, 1003};
const int kControlIds[] = {1, 2, 1005, 1002, 1003, 1004, 1006};

const DialogScript* script = nullptr;
DialogSeen* seen = nullptr;
HWND dialog = nullptr;
UINT_PTR playTimer = 0;
UINT_PTR watchdogTimer = 0;

std::string ItemText(int id) {
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

int CheckedRadioButton() {
    int checked = 0;
    for (int id : kRadioButtons) {
        if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) {
            checked = checked ? -1 : id;
        }
    }
    return checked;
}

// Types `text` over the whole text of edit `id`, one character at a time.
void Type(int id, const std::string& text) {
    HWND edit = GetDlgItem(dialog, id);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_CHAR, VK_BACK, 1);
    for (char c : text) {
        SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
    }
}

// A key goes to the control that has the focus, through the dialog's own
// message loop.
void PressKey(UINT key) {
    HWND focus = GetFocus();
    if (focus != dialog && !IsChild(dialog, focus)) {
        focus = dialog;
    }
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
}

void CALLBACK EndStuckDialog(HWND, UINT, UINT_PTR, DWORD) {
    KillTimer(nullptr, watchdogTimer);
    watchdogTimer = 0;
    if (dialog && IsWindow(dialog)) {
        seen->closedByScript = false;
        EndDialog(dialog, 99);
    }
}

void CALLBACK Play(HWND, UINT, UINT_PTR, DWORD) {
    KillTimer(nullptr, playTimer);
    playTimer = 0;
    seen->shown = true;
    seen->owner = GetWindow(dialog, GW_OWNER);
    char caption[256] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    seen->caption = caption;
    for (int id : kControlIds) {
        HWND control = GetDlgItem(dialog, id);
        char className[64] = "<none>";
        if (control) {
            GetClassNameA(control, className, sizeof className);
        }
        seen->controls.push_back(std::to_string(id) + " " + className + " " + ItemText(id));
    }
    seen->checkedAtStart = CheckedRadioButton();
    seen->localeAtStart = ItemText(1004);
    seen->maxFilesAtStart = ItemText(1006);

    for (int id : script->clicks) {
        SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    }
    seen->checkedAfterClicks = CheckedRadioButton();
    if (script->typeLocale) {
        Type(1004, script->locale);
    }
    if (script->typeMaxFiles) {
        Type(1006, script->maxFiles);
    }

    switch (script->finish) {
    case DialogScript::Finish::Ok:
        SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        break;
    case DialogScript::Finish::Cancel:
        SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        break;
    case DialogScript::Finish::Escape:
        PressKey(VK_ESCAPE);
        break;
    case DialogScript::Finish::Enter:
        PressKey(VK_RETURN);
        break;
    case DialogScript::Finish::Close:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
    watchdogTimer = SetTimer(nullptr, 0, 5000, EndStuckDialog);
}

void OnDialogActivated(HWND window) {
    if (dialog) {
        return;
    }
    dialog = window;
    playTimer = SetTimer(nullptr, 0, 10, Play);
}

} // namespace

int RunOptionsDialog(HWND parent, const DialogScript& s, DialogSeen* out) {
    script = &s;
    seen = out;
    dialog = nullptr;
    SetDialogHandler("Tarnel Options", OnDialogActivated);
    int result = Entry.configurePacker(parent, Plugin);
    SetDialogHandler(nullptr, nullptr);
    if (playTimer) {
        KillTimer(nullptr, playTimer);
        playTimer = 0;
    }
    if (watchdogTimer) {
        KillTimer(nullptr, watchdogTimer);
        watchdogTimer = 0;
    }
    dialog = nullptr;
    return result;
}
