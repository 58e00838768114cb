// Message boxes through the desktop's helper programs, and the checks that
// decide whether a message goes to the desktop or to the terminal.
#include "platform/desktop_posix.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/child_process_posix.h"

namespace {

enum : size_t {
    kProgramPathSize = 4096,
    // A message or caption as the desktop shows it: a message of the
    // plug-in's 1023 characters with every byte written as \xNN.
    kDesktopTextSize = 4 * 1024 + 64,
    // An argument: an option and such a text; kdialog's markup may make
    // the text longer still, and is cut to fit.
    kArgumentSize = kDesktopTextSize + 64,
};

// Appends `piece` (of `length` bytes) when it fits whole.
bool Append(char* out, size_t size, size_t* used, const char* piece, size_t length) {
    if (length >= size - *used) {
        return false;
    }
    std::memcpy(out + *used, piece, length);
    *used += length;
    out[*used] = '\0';
    return true;
}

bool Append(char* out, size_t size, size_t* used, const char* piece) {
    return Append(out, size, used, piece, std::strlen(piece));
}

// The length of the valid UTF-8 sequence at `p` (1 to 4), or 0.
size_t Utf8SequenceLength(const unsigned char* p) {
    size_t length = 0;
    uint32_t minimum = 0;
    uint32_t value = 0;
    if (p[0] < 0x80) {
        return 1;
    } else if ((p[0] & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, value = p[0] & 0x1Fu;
    } else if ((p[0] & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, value = p[0] & 0x0Fu;
    } else if ((p[0] & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, value = p[0] & 0x07u;
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (p[i] & 0x3Fu);
    }
    bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return (value < minimum || value > 0x10FFFF || surrogate) ? 0 : length;
}

// kdialog takes rich text: the text is marked as such, with the characters
// that mean markup written as entities, so that it shows exactly as given.
void RichText(const char* text, char* out, size_t size) {
    size_t used = 0;
    out[0] = '\0';
    Append(out, size, &used, "<qt>");
    for (const char* p = text; *p; ++p) {
        const char* entity = *p == '<'   ? "&lt;"
                             : *p == '>' ? "&gt;"
                             : *p == '&' ? "&amp;"
                                         : nullptr;
        if (!(entity ? Append(out, size - 5, &used, entity) : Append(out, size - 5, &used, p, 1))) {
            break;
        }
    }
    Append(out, size, &used, "</qt>");
}

bool Shown(int status) {
    // 0: OK; 1: closed with the window's button or Escape. Anything else
    // (no display, a refused option, a signal) means nothing was shown.
    return status == 0 || status == 1 || status == kProgramStatusUnknown;
}

bool ShowWithZenity(const char* program, const char* text, const char* caption, uint32_t type) {
    char titleArgument[kArgumentSize];
    char textArgument[kArgumentSize];
    std::snprintf(titleArgument, sizeof titleArgument, "--title=%s", caption);
    std::snprintf(textArgument, sizeof textArgument, "--text=%s", text);
    const char* kind = "--info";
    if ((type & 0x70) == kMessageBoxIconError) {
        kind = "--error";
    } else if ((type & 0x70) == kMessageBoxIconWarning) {
        kind = "--warning";
    }
    // Without markup zenity also shows backslashes as they are.
    const char* argv[] = {program, kind, "--no-markup", titleArgument, textArgument, nullptr};
    return Shown(RunProgram(argv, nullptr, 0));
}

bool ShowWithKdialog(const char* program, const char* text, const char* caption, uint32_t type) {
    char rich[kArgumentSize];
    RichText(text, rich, sizeof rich);
    const char* kind = "--msgbox";
    if ((type & 0x70) == kMessageBoxIconError) {
        kind = "--error";
    } else if ((type & 0x70) == kMessageBoxIconWarning) {
        kind = "--sorry";
    }
    const char* argv[] = {program, "--title", caption, kind, rich, nullptr};
    return Shown(RunProgram(argv, nullptr, 0));
}

} // namespace

bool PosixHasTerminal(void) {
    if (isatty(STDERR_FILENO)) {
        return true;
    }
    int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) {
        return false;
    }
    close(terminal);
    return true;
}

bool PosixHasGraphicalSession(void) {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

void DesktopText(const char* text, char* out, size_t size) {
    size_t used = 0;
    out[0] = '\0';
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        size_t length = Utf8SequenceLength(p);
        bool fits;
        if (length == 0 || *p < 0x20 || *p == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", *p);
            fits = Append(out, size, &used, escaped, 4);
            length = 1;
        } else {
            fits = Append(out, size, &used, reinterpret_cast<const char*>(p), length);
        }
        if (!fits) {
            break;
        }
        p += length;
    }
}

bool PosixShowDesktopMessage(const char* text, const char* caption, uint32_t type) {
    char shownText[kDesktopTextSize];
    char shownCaption[kDesktopTextSize];
    DesktopText(text, shownText, sizeof shownText);
    DesktopText(caption, shownCaption, sizeof shownCaption);
    char program[kProgramPathSize];
    if (FindProgramOnPath("zenity", program, sizeof program) &&
        ShowWithZenity(program, shownText, shownCaption, type)) {
        return true;
    }
    return FindProgramOnPath("kdialog", program, sizeof program) &&
           ShowWithKdialog(program, shownText, shownCaption, type);
}
