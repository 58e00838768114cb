// What the command tells the user besides its results: errors (always),
// notices (not with -q) and, with -v, each member's name as it is handled.
// Errors and notices go to standard error, names to standard output; all of
// them clear the progress bar first and show control characters as \xNN.
#pragma once

#include <string>

#include "host/failure_tally.h"

namespace host {

// -q: errors only. -v: names as they are handled.
void SetQuiet(bool quiet);
void SetVerbose(bool verbose);

// Writes "tarnel: <text>" on standard error.
void Report(const std::string& text);

// The same, unless -q was given: what is worth knowing but no error.
void Notice(const std::string& text);

// With -v, writes `name` on standard output at once.
void ShowHandled(const std::string& name);

// Reports each line of `tally` as an error, or with `notice` as a notice.
void ReportTally(const FailureTally& tally, bool notice = false);

// Passes on text that the plug-in wrote and the command held back.
void PassOn(const std::string& pluginText);

// Why the operation stopped: "stopped by the user", or that its output was
// closed.
std::string StopText();

} // namespace host
