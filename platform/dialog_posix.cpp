// Modal dialogs on POSIX. A dialog is a record of its controls' state
// (PosixDialog), edited by a form that stands in for the dialog's window: a
// text form on a console host's terminal, the desktop's form for graphical
// hosts (desktop_form_posix.cpp). Either then sends the dialog's procedure
// the same commands the Windows dialog manager would.
#include "platform/bounded_text.h"
#include "platform/desktop_posix.h"
#include "platform/platform.h"

#include <cstring>
#include <unistd.h>

namespace {

PosixDialog* DialogOf(PlatformWindow dialog) {
    return static_cast<PosixDialog*>(dialog);
}

PosixDialogControl* FindControl(PlatformWindow dialog, int id) {
    PosixDialog* state = DialogOf(dialog);
    if (!state) {
        return nullptr;
    }
    for (int i = 0; i < state->controlCount; ++i) {
        if (state->controls[i].id == id) {
            return &state->controls[i];
        }
    }
    return nullptr;
}

// One line of input without its line end, cut to the size of `line`; the
// rest of a longer line is read and dropped. False at the end of input.
bool ReadLine(FILE* in, char* line, size_t size) {
    size_t length = 0;
    int c;
    bool any = false;
    while ((c = std::fgetc(in)) != EOF) {
        any = true;
        if (c == '\n') {
            break;
        }
        if (length + 1 < size) {
            line[length++] = static_cast<char>(c);
        }
    }
    if (length > 0 && line[length - 1] == '\r') {
        --length;
    }
    line[length] = '\0';
    return any && !(c == EOF && length == 0);
}

// True when `answer` is a non-empty beginning of `word`, case aside.
bool Abbreviates(const char* answer, const char* word) {
    size_t length = std::strlen(answer);
    if (length == 0 || length > std::strlen(word)) {
        return false;
    }
    return EqualNoCase(answer, word, length);
}

// The radio buttons that follow the group item at `first`: [first + 1, end).
int GroupEnd(const PlatformDialogTemplate* dialog, int first) {
    int end = first + 1;
    while (end < dialog->itemCount && dialog->items[end].kind == kDialogItemRadioButton) {
        ++end;
    }
    return end;
}

// Asks for one of the radio buttons [begin, end); an empty answer keeps the
// checked one. Picking one checks it and clears the others, as clicking an
// automatic radio button does. False at the end of input.
bool AskChoice(const PlatformDialogTemplate* dialog, const char* label, int begin, int end,
               PosixDialog* state, FILE* in, FILE* out) {
    for (;;) {
        const char* current = "";
        std::fprintf(out, "%s (", label);
        for (int i = begin; i < end; ++i) {
            PosixDialogControl* control = FindControl(state, dialog->items[i].id);
            if (control && control->checked == 1 && !*current) {
                current = dialog->items[i].text;
            }
            std::fprintf(out, "%s%s", i > begin ? ", " : "", dialog->items[i].text);
        }
        std::fprintf(out, ") [%s]: ", current);
        std::fflush(out);
        char answer[64];
        if (!ReadLine(in, answer, sizeof answer)) {
            return false;
        }
        if (!answer[0]) {
            return true;
        }
        int picked = -1;
        for (int i = begin; i < end && picked < 0; ++i) {
            if (Abbreviates(answer, dialog->items[i].text)) {
                picked = i;
            }
        }
        if (picked < 0) {
            std::fprintf(out, "Please answer one of the names shown.\n");
            continue;
        }
        for (int i = begin; i < end; ++i) {
            PosixDialogControl* control = FindControl(state, dialog->items[i].id);
            if (control) {
                control->checked = (i == picked) ? 1 : 0;
            }
        }
        return true;
    }
}

// Asks for the text of an edit; an empty answer keeps the shown text.
bool AskText(const char* label, PosixDialogControl* control, FILE* in, FILE* out) {
    std::fprintf(out, "%s [%s]: ", label, control->text);
    std::fflush(out);
    char answer[kPosixDialogTextSize];
    if (!ReadLine(in, answer, sizeof answer)) {
        return false;
    }
    if (answer[0]) {
        CopyBounded(control->text, sizeof control->text, answer);
    }
    return true;
}

// OK (the default, as Enter in the dialog) or Cancel; 0 at the end of input.
int AskConfirmation(FILE* in, FILE* out) {
    for (;;) {
        std::fprintf(out, "OK or Cancel [OK]: ");
        std::fflush(out);
        char answer[64];
        if (!ReadLine(in, answer, sizeof answer)) {
            return 0;
        }
        if (!answer[0] || Abbreviates(answer, "ok") || Abbreviates(answer, "yes")) {
            return kDialogOk;
        }
        if (Abbreviates(answer, "cancel") || Abbreviates(answer, "no")) {
            return kDialogCancel;
        }
        std::fprintf(out, "Please answer OK or Cancel.\n");
    }
}

// One pass over the form. Returns the command the user chose.
int AskForm(const PlatformDialogTemplate* dialog, PosixDialog* state, FILE* in, FILE* out) {
    std::fprintf(out, "%s\n", dialog->caption ? dialog->caption : "");
    for (int i = 0; i < dialog->itemCount; ++i) {
        const PlatformDialogItem& item = dialog->items[i];
        if (item.kind == kDialogItemGroup) {
            int end = GroupEnd(dialog, i);
            if (!AskChoice(dialog, item.text, i + 1, end, state, in, out)) {
                return kDialogCancel;
            }
            i = end - 1;
        } else if (item.kind == kDialogItemEdit) {
            PosixDialogControl* control = FindControl(state, item.id);
            if (control && !AskText(item.text, control, in, out)) {
                return kDialogCancel;
            }
        }
    }
    int command = AskConfirmation(in, out);
    return command ? command : kDialogCancel;
}

} // namespace

void PosixDialogFromTemplate(const PlatformDialogTemplate* dialog, PosixDialog* state) {
    std::memset(state, 0, sizeof *state);
    for (int i = 0; i < dialog->itemCount && state->controlCount < kPosixDialogControlCapacity;
         ++i) {
        const PlatformDialogItem& item = dialog->items[i];
        if (item.kind == kDialogItemGroup) {
            continue;
        }
        PosixDialogControl& control = state->controls[state->controlCount++];
        control.id = item.id;
        control.kind = item.kind;
    }
}

intptr_t PosixRunTextForm(const PlatformDialogTemplate* dialog, PlatformDialogProc procedure,
                          intptr_t param, FILE* in, FILE* out) {
    PosixDialog state;
    PosixDialogFromTemplate(dialog, &state);
    procedure(&state, kDialogMessageInit, 0, param);
    while (!state.ended) {
        int command = AskForm(dialog, &state, in, out);
        procedure(&state, kDialogMessageCommand, static_cast<uintptr_t>(command), 0);
        if (!state.ended && command == kDialogCancel && std::feof(in)) {
            // Input is over and the procedure would not close: nothing more
            // can be asked.
            return -1;
        }
    }
    return state.result;
}

intptr_t PlatformDialogBox(PlatformModule, const PlatformDialogTemplate* dialog,
                           PlatformWindow parent, PlatformDialogProc procedure, intptr_t param) {
    if (!dialog || !procedure) {
        return -1;
    }
    // A console host, which passes no window, gets the text form on its
    // terminal; a graphical host passes its own window, and the desktop
    // shows the dialog as a form of its own.
    if (!parent && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)) {
        intptr_t result = PosixRunTextForm(dialog, procedure, param, stdin, stdout);
        std::fflush(stdout);
        return result;
    }
    if (PosixHasGraphicalSession()) {
        return PosixRunDesktopForm(dialog, procedure, param);
    }
    return -1;
}

void PlatformCheckDialogButton(PlatformWindow dialog, int id) {
    PosixDialogControl* control = FindControl(dialog, id);
    if (control && control->kind == kDialogItemRadioButton) {
        control->checked = 1;
    }
}

uint32_t PlatformIsDialogButtonChecked(PlatformWindow dialog, int id) {
    PosixDialogControl* control = FindControl(dialog, id);
    return control && control->kind == kDialogItemRadioButton ? control->checked : 0;
}

int PlatformSetDialogItemText(PlatformWindow dialog, int id, const char* text) {
    PosixDialogControl* control = FindControl(dialog, id);
    if (!control || !text) {
        return 0;
    }
    CopyBounded(control->text, sizeof control->text, text);
    return 1;
}

uint32_t PlatformGetDialogItemText(PlatformWindow dialog, int id, char* buffer, int size) {
    if (size <= 0) {
        return 0;
    }
    PosixDialogControl* control = FindControl(dialog, id);
    CopyBounded(buffer, static_cast<size_t>(size), control ? control->text : "");
    return static_cast<uint32_t>(std::strlen(buffer));
}

int PlatformEndDialog(PlatformWindow dialog, intptr_t result) {
    PosixDialog* state = DialogOf(dialog);
    if (!state) {
        return 0;
    }
    state->ended = true;
    state->result = result;
    return 1;
}
