// Member names in the JSON listing.
#pragma once

#include <string>

namespace host {

// A JSON string for a member name. Names are 8-bit in the system's code
// page: valid UTF-8 passes through, and any other byte is written as the
// character of the same number (Latin-1), so the output is always valid
// JSON and valid UTF-8.
std::string JsonString(const std::string& text);

} // namespace host
