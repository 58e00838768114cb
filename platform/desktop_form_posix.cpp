// A modal dialog as a zenity form, for hosts with a graphical session: the
// form stands in for the dialog's window the way the text form does on a
// terminal, and sends the dialog's procedure the same commands.
#include "platform/desktop_posix.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/bounded_text.h"
#include "platform/child_process_posix.h"

namespace {

enum : size_t {
    kProgramPathSize = 4096,
    kMaxArguments = 2 * kPosixDialogControlCapacity + 8,
    kArgumentSpace = 16 * 1024,
    kAnswerSize = 4 * 1024,
};

// Separates the answers in zenity's output: a character no field holds.
const char kSeparator[] = "\x1f";

// Everything one run of the form needs, taken from the heap: a host thread
// may have a small stack.
struct Form {
    PosixDialog state;
    char program[kProgramPathSize];
    char space[kArgumentSpace]; // the arguments' text, one after another
    size_t used;
    const char* argv[kMaxArguments + 1];
    size_t count;
    char output[kAnswerSize];

    // Adds one argument made of the given pieces; an argument that does
    // not fit is cut.
    void Add(std::initializer_list<const char*> pieces) {
        if (count >= kMaxArguments || used >= sizeof space) {
            return;
        }
        char* start = space + used;
        for (const char* piece : pieces) {
            used += CopyBounded(space + used, sizeof space - used, piece);
        }
        ++used; // past the zero
        argv[count++] = start;
        argv[count] = nullptr;
    }
};

PosixDialogControl* FindControl(PosixDialog* state, int id) {
    for (int i = 0; i < state->controlCount; ++i) {
        if (state->controls[i].id == id) {
            return &state->controls[i];
        }
    }
    return nullptr;
}

// The radio buttons that follow the group item at `first`: [first + 1, end).
int GroupEnd(const PlatformDialogTemplate* dialog, int first) {
    int end = first + 1;
    while (end < dialog->itemCount && dialog->items[end].kind == kDialogItemRadioButton) {
        ++end;
    }
    return end;
}

// Builds the form of `dialog` over the controls as the procedure set them.
void BuildForm(const PlatformDialogTemplate* dialog, Form* form) {
    PosixDialog* state = &form->state;
    form->used = 0;
    form->count = 0;
    form->Add({form->program});
    form->Add({"--forms"});
    form->Add({"--title=", dialog->caption ? dialog->caption : ""});
    form->Add({"--text=Empty fields keep the values in brackets."});
    form->Add({"--separator=", kSeparator});
    for (int i = 0; i < dialog->itemCount; ++i) {
        const PlatformDialogItem& item = dialog->items[i];
        if (item.kind == kDialogItemGroup) {
            int end = GroupEnd(dialog, i);
            const char* current = "";
            char values[kPosixDialogTextSize] = "";
            size_t used = 0;
            for (int b = i + 1; b < end; ++b) {
                PosixDialogControl* control = FindControl(state, dialog->items[b].id);
                if (control && control->checked == 1 && !*current) {
                    current = dialog->items[b].text;
                }
                used += CopyBounded(values + used, sizeof values - used, b > i + 1 ? "|" : "");
                used += CopyBounded(values + used, sizeof values - used, dialog->items[b].text);
            }
            form->Add({"--add-combo=", item.text, " [", current, "]"});
            form->Add({"--combo-values=", values});
            i = end - 1;
        } else if (item.kind == kDialogItemEdit) {
            PosixDialogControl* control = FindControl(state, item.id);
            char shown[kPosixDialogTextSize];
            DesktopText(control ? control->text : "", shown, sizeof shown);
            form->Add({"--add-entry=", item.text, " [", shown, "]"});
        }
    }
}

// The next answer of zenity's output at `*cursor`, without its separator
// and line end, into `answer`. False when the output has no more answers.
bool NextAnswer(const char** cursor, char* answer, size_t size) {
    if (!*cursor) {
        return false;
    }
    const char* start = *cursor;
    const char* end = std::strstr(start, kSeparator);
    size_t length = end ? static_cast<size_t>(end - start) : std::strcspn(start, "\n");
    *cursor = end ? end + 1 : nullptr;
    CopyBounded(answer, size < length + 1 ? size : length + 1, start);
    return true;
}

// Sets the controls from the answers, in the order of the form's fields.
// False when the output does not hold one answer per field.
bool TakeAnswers(const PlatformDialogTemplate* dialog, PosixDialog* state, const char* output) {
    const char* cursor = output;
    char answer[kPosixDialogTextSize];
    for (int i = 0; i < dialog->itemCount; ++i) {
        const PlatformDialogItem& item = dialog->items[i];
        if (item.kind == kDialogItemGroup) {
            int end = GroupEnd(dialog, i);
            if (!NextAnswer(&cursor, answer, sizeof answer)) {
                return false;
            }
            for (int b = i + 1; b < end && *answer; ++b) {
                if (std::strcmp(answer, dialog->items[b].text) == 0) {
                    for (int c = i + 1; c < end; ++c) {
                        PosixDialogControl* control = FindControl(state, dialog->items[c].id);
                        if (control) {
                            control->checked = (c == b) ? 1 : 0;
                        }
                    }
                }
            }
            i = end - 1;
        } else if (item.kind == kDialogItemEdit) {
            if (!NextAnswer(&cursor, answer, sizeof answer)) {
                return false;
            }
            PosixDialogControl* control = FindControl(state, item.id);
            if (control && *answer) {
                CopyBounded(control->text, sizeof control->text, answer);
            }
        }
    }
    return cursor == nullptr;
}

} // namespace

intptr_t PosixRunDesktopForm(const PlatformDialogTemplate* dialog, PlatformDialogProc procedure,
                             intptr_t param) {
    Form* form = static_cast<Form*>(std::calloc(1, sizeof(Form)));
    if (!form) {
        return -1;
    }
    if (!FindProgramOnPath("zenity", form->program, sizeof form->program)) {
        std::free(form);
        return -1;
    }
    PosixDialog* state = &form->state;
    PosixDialogFromTemplate(dialog, state);
    procedure(state, kDialogMessageInit, 0, param);
    intptr_t result = -1;
    for (bool first = true; !state->ended; first = false) {
        BuildForm(dialog, form);
        int status = RunProgram(form->argv, form->output, sizeof form->output);
        int command = kDialogCancel;
        if (status == 0 || (status == kProgramStatusUnknown && form->output[0])) {
            // An answer that cannot be read changes nothing.
            command = TakeAnswers(dialog, state, form->output) ? kDialogOk : kDialogCancel;
        } else if (status != 1 && status != kProgramStatusUnknown && first) {
            break; // zenity could not show the form
        }
        procedure(state, kDialogMessageCommand, static_cast<uintptr_t>(command), 0);
        if (!state->ended && command == kDialogCancel) {
            break; // the procedure would not close
        }
    }
    if (state->ended) {
        result = state->result;
    }
    std::free(form);
    return result;
}
