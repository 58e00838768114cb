// Watches for message boxes of other programs in the same Wine session and
// dismisses them, so that a command-line run never waits for a user:
//   box_watcher LOG STOP
// Every box that appears (a top-level dialog of class "#32770" with a text
// control) is written to LOG as one line, "caption | text" (line breaks in
// the text become " / ", trailing ones are dropped), before it is answered
// with OK. The watcher writes LOG.ready once it watches, and ends when the
// file STOP exists.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::string TextOf(HWND window) {
    char text[4096] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string OneLine(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            line += " / ";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += text[i];
        }
    }
    return line;
}

struct Watch {
    std::string log;
    std::set<HWND> answered;
};

BOOL CALLBACK LookAt(HWND window, LPARAM context) {
    Watch* watch = reinterpret_cast<Watch*>(context);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    HWND text = GetDlgItem(window, 0xFFFF);
    if (std::string(className) != "#32770" || !IsWindowVisible(window) || !text ||
        watch->answered.count(window)) {
        return TRUE;
    }
    watch->answered.insert(window);
    std::string line = OneLine(TextOf(window)) + " | " + OneLine(TextOf(text)) + "\n";
    if (FILE* out = std::fopen(watch->log.c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), out);
        std::fclose(out);
    }
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: box_watcher LOG STOP\n");
        return 2;
    }
    Watch watch;
    watch.log = argv[1];
    std::string stop = argv[2];
    if (FILE* ready = std::fopen((watch.log + ".ready").c_str(), "wb")) {
        std::fclose(ready);
    }
    while (!Exists(stop)) {
        EnumWindows(LookAt, reinterpret_cast<LPARAM>(&watch));
        // Handles of closed boxes may come back for new windows.
        for (auto it = watch.answered.begin(); it != watch.answered.end();) {
            it = IsWindow(*it) ? std::next(it) : watch.answered.erase(it);
        }
        Sleep(10);
    }
    return 0;
}
