// A desktop for tests of the plug-in's dialogs on POSIX: stand-ins for
// zenity and kdialog, alone on PATH, that record their arguments and answer
// like the real programs; scoped environment variables; and a child process
// without a terminal, in which a message box may go to the desktop.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

// Sets an environment variable, or with a null value removes it, until the
// object goes; then puts back what was there.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool had_;
};

// While it exists: PATH holds only a folder with the stand-ins named in
// `programs`, DISPLAY names a display and WAYLAND_DISPLAY is unset. Each
// stand-in records its call and then answers as the real program does: the
// exit status set with Answer (0 for OK, 1 for Cancel or a closed window, 255
// for a failure), and for OK with fields, the fields joined by the
// separator that its --separator argument names, and a line end. The
// answer kKilled ends the stand-in with SIGKILL instead, as when the user's
// session goes away under it.
class FakeDesktop {
  public:
    static constexpr int kKilled = -9;

    explicit FakeDesktop(const std::vector<std::string>& programs = {"zenity", "kdialog"});

    // The answer of the next calls: `status` for zenity and kdialog, and
    // the forms' fields, separated by ';' here (an empty text is one empty
    // field). `raw` instead prints that text as it is.
    void Answer(int status, const char* fields = nullptr, const char* raw = nullptr);
    void AnswerZenity(int status);

    // The calls so far, each the program's name and then its arguments.
    std::vector<std::vector<std::string>> Calls() const;

  private:
    TempDir dir_;
    ScopedVariable path_;
    ScopedVariable display_;
    ScopedVariable wayland_;
    ScopedVariable log_;
};

// Runs `body` in a child process of its own session, so without a
// controlling terminal, with standard error going to a file or, when
// `terminal` is true, to a pseudo-terminal. Returns what `body` returned (0
// to 255; -1 when the child did not end normally), and what the child wrote
// to standard error in `*errors`.
int RunWithoutTerminal(const std::function<int()>& body, bool terminal, std::string* errors);
