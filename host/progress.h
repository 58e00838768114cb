// The command's progress callback and progress bar. The plug-in calls the
// callback before each chunk it extracts (the member's name and the chunk's
// size) and before each file it packs (the source path and 0). The bar is
// drawn on standard error only when that is a terminal, at most a few times
// a second, and the callback answers "stop" once Ctrl+C has been pressed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host_interface.h"

namespace host {

// The callback handed to the plug-in; one for the whole process, like the
// plug-in's slot.
int TARNEL_STDCALL OnProgress(char* name, int size);

// Starts counting an extraction or test of `totalBytes` in all.
void BeginByteProgress(uint64_t totalBytes);

// Starts counting a pack of files of these sizes, in the order the plug-in
// is given them: each report names the next file, so the files before it
// are done. With -v, each report shows the next of `fileNames` (the names
// the files get in the archive).
void BeginFileProgress(const std::vector<uint64_t>& fileSizes,
                       const std::vector<std::string>& fileNames = {});

// Clears the bar from the screen until the next redraw, so that a message
// can be written on a line of its own.
void ClearProgressBar();

// Clears the bar, if one was drawn, and stops counting.
void EndProgress();

// True when the callback has answered "stop" since the last Begin.
bool ProgressStopped();

// The number of reports received since the last Begin.
uint64_t ProgressReports();

// Draws the bar whatever standard error is (for tests and benchmarks that
// give the command a pseudo-terminal, the bar is on by itself).
void SetProgressBarEnabled(bool enabled);

// The bar's text for the figures given, cut to `columns` characters: the
// share done, bytes done of the total, the rate and the current name.
std::string FormatProgressLine(uint64_t done, uint64_t total, double bytesPerSecond,
                               const std::string& name, int columns);

} // namespace host
