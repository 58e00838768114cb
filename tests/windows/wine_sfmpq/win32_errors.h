// The Win32 error code that SFMpq.dll under Wine leaves (SetLastError) for a
// failure its client reported with an errno value, so that the plug-in's
// FormatMessageA shows the system's text for what went wrong.
#pragma once

#include <cstdint>

namespace wine_sfmpq {

uint32_t Win32ErrorOf(int error);

} // namespace wine_sfmpq
