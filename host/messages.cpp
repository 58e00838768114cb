#include "host/messages.h"

#include <cstdio>

#include "host/host_os.h"
#include "host/progress.h"
#include "host/terminal_text.h"

namespace host {

namespace {

bool quietMode = false;
bool verboseMode = false;

} // namespace

void SetQuiet(bool quiet) {
    quietMode = quiet;
}

void SetVerbose(bool verbose) {
    verboseMode = verbose;
}

void Report(const std::string& text) {
    ClearProgressBar();
    // Messages name members and files, which may hold control characters.
    std::FILE* stream = MessageStream();
    std::fprintf(stream, "tarnel: %s\n", Printable(text).c_str());
    std::fflush(stream);
}

void Notice(const std::string& text) {
    if (!quietMode) {
        Report(text);
    }
}

void ShowHandled(const std::string& name) {
    if (!verboseMode) {
        return;
    }
    ClearProgressBar();
    std::printf("%s\n", Printable(name).c_str());
    // At once, also into a pipe: the reader follows along, and a reader
    // that has gone away stops the operation now rather than at the end.
    std::fflush(stdout);
}

void ReportTally(const FailureTally& tally, bool notice) {
    for (const std::string& line : tally.Lines()) {
        if (notice) {
            Notice(line);
        } else {
            Report(line);
        }
    }
}

void PassOn(const std::string& pluginText) {
    if (pluginText.empty()) {
        return;
    }
    ClearProgressBar();
    std::FILE* stream = MessageStream();
    size_t start = 0;
    while (start < pluginText.size()) {
        size_t end = pluginText.find('\n', start);
        if (end == std::string::npos) {
            end = pluginText.size();
        }
        std::fprintf(stream, "%s\n", Printable(pluginText.substr(start, end - start)).c_str());
        start = end + 1;
    }
    std::fflush(stream);
}

std::string StopText() {
    return OutputClosed() ? "stopped: the output was closed" : "stopped by the user";
}

} // namespace host
