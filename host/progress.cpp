#include "host/progress.h"

#include <algorithm>
#include <cstdio>

#include "host/host_os.h"
#include "host/messages.h"
#include "host/terminal_text.h"

namespace host {

namespace {

// How long the bar waits before drawing again, in seconds.
constexpr double kRedrawInterval = 0.2;

struct ProgressState {
    bool barEnabled = false;
    bool barDrawn = false;
    bool stopped = false;
    bool byFile = false;
    uint64_t reports = 0;
    uint64_t total = 0;
    uint64_t done = 0;
    std::vector<uint64_t> fileSizes;
    std::vector<std::string> fileNames;
    size_t nextFile = 0;
    double started = 0;
    double lastDrawn = 0;
    std::string name;
};

ProgressState state;

std::string HumanBytes(double bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

void Draw(double now) {
    double elapsed = now - state.started;
    double rate = elapsed > 0 ? static_cast<double>(state.done) / elapsed : 0;
    std::string line =
        FormatProgressLine(state.done, state.total, rate, state.name, TerminalColumns() - 1);
    // Pad to the full width so that a shorter line covers a longer one.
    int columns = TerminalColumns() - 1;
    if (static_cast<int>(line.size()) < columns) {
        line.append(static_cast<size_t>(columns) - line.size(), ' ');
    }
    std::FILE* stream = MessageStream();
    std::fprintf(stream, "\r%s", line.c_str());
    std::fflush(stream);
    state.barDrawn = true;
    state.lastDrawn = now;
}

void Begin() {
    state.barDrawn = false;
    state.stopped = false;
    state.reports = 0;
    state.done = 0;
    state.nextFile = 0;
    state.name.clear();
    state.started = MonotonicSeconds();
    state.lastDrawn = state.started;
}

} // namespace

int TARNEL_STDCALL OnProgress(char* name, int size) {
    ++state.reports;
    if (state.byFile) {
        // Each report names the next file, so the one before it is done.
        if (state.nextFile > 0 && state.nextFile <= state.fileSizes.size()) {
            state.done += state.fileSizes[state.nextFile - 1];
        }
        ++state.nextFile;
        if (!InterruptRequested() && state.nextFile <= state.fileNames.size()) {
            ShowHandled(state.fileNames[state.nextFile - 1]);
        }
    } else if (size > 0) {
        state.done += static_cast<uint64_t>(size);
    }
    // Also when showing the name found the output closed.
    if (InterruptRequested()) {
        state.stopped = true;
        return 0;
    }
    if (state.barEnabled) {
        double now = MonotonicSeconds();
        if (now - state.lastDrawn >= kRedrawInterval) {
            state.name = name ? name : "";
            // Extraction reports the archive's own names, with backslashes.
            std::replace(state.name.begin(), state.name.end(), '\\', kPathSeparator);
            state.name = Printable(state.name);
            Draw(now);
        }
    }
    return 1;
}

void BeginByteProgress(uint64_t totalBytes) {
    Begin();
    state.byFile = false;
    state.total = totalBytes;
    state.fileSizes.clear();
    state.fileNames.clear();
}

void BeginFileProgress(const std::vector<uint64_t>& fileSizes,
                       const std::vector<std::string>& fileNames) {
    Begin();
    state.byFile = true;
    state.fileSizes = fileSizes;
    state.fileNames = fileNames;
    state.total = 0;
    for (uint64_t size : fileSizes) {
        state.total += size;
    }
}

void ClearProgressBar() {
    if (state.barDrawn) {
        int columns = TerminalColumns() - 1;
        std::FILE* stream = MessageStream();
        std::fprintf(stream, "\r%s\r", std::string(columns > 0 ? columns : 0, ' ').c_str());
        std::fflush(stream);
        state.barDrawn = false;
    }
}

void EndProgress() {
    ClearProgressBar();
    state.byFile = false;
}

bool ProgressStopped() {
    return state.stopped;
}

uint64_t ProgressReports() {
    return state.reports;
}

void SetProgressBarEnabled(bool enabled) {
    state.barEnabled = enabled;
}

std::string FormatProgressLine(uint64_t done, uint64_t total, double bytesPerSecond,
                               const std::string& name, int columns) {
    if (done > total) {
        done = total;
    }
    int percent = total ? static_cast<int>(done * 100 / total) : 100;
    char figures[128];
    std::snprintf(figures, sizeof figures, "%3d%%  %s of %s  %s/s  ", percent,
                  HumanBytes(static_cast<double>(done)).c_str(),
                  HumanBytes(static_cast<double>(total)).c_str(),
                  HumanBytes(bytesPerSecond).c_str());
    std::string line = figures;
    // The name's tail is its most telling part; cut from the front.
    if (columns > 0 && line.size() + name.size() > static_cast<size_t>(columns)) {
        size_t room = static_cast<size_t>(columns) > line.size() + 3
                          ? static_cast<size_t>(columns) - line.size() - 3
                          : 0;
        line += room ? "..." + name.substr(name.size() - room) : std::string();
    } else {
        line += name;
    }
    if (columns > 0 && line.size() > static_cast<size_t>(columns)) {
        line.resize(static_cast<size_t>(columns));
    }
    return line;
}

} // namespace host
