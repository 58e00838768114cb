// The host's progress callback: one process-wide slot, filled by
// SetProcessDataProc and called by extraction (the member name and the size
// of the coming chunk) and by packing (the source path and 0).
#pragma once

#include <cstdint>

// Calls the host's progress callback with `name` and `count`. Returns true
// to go on and false when the user asked to stop. With no callback set the
// operation goes on.
bool ReportProgress(char* name, uint32_t count);
