// Member names: the name lists the caller hands over, and the names the
// library makes up for members that no list names.
//
// A generated name is "Unknown\" followed by the member's two name hashes as
// 16 hexadecimal digits, "_" and its locale in hexadecimal when that is not
// 0, "~" and its hash slot when another member has the same hashes and
// locale (only in damaged archives), and an extension guessed from the first
// bytes of its content (".xxx" when nothing matches):
//     Unknown\1A2B3C4D5E6F7081.wav      Unknown\1A2B3C4D5E6F7081_407.xxx
// The hashes come from the member's real name, so a member keeps its
// generated name however the archive is rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sfmpq {

// Longest member name the library lists or accepts, without the zero.
constexpr size_t kMaxMemberName = 259;

// Splits a name list's text at CR, LF and ';'. Empty names and names longer
// than kMaxMemberName are skipped; '/' becomes '\'.
void SplitNameList(const char* text, size_t length, std::vector<std::string>* names);

// The names of every readable name-list file in `paths`: one path, or several
// joined by single spaces (a path may contain spaces itself: at each point
// the longest run of words that names a readable file is taken). Pieces that
// name no readable file are skipped.
void ReadNameListFiles(const char* paths, std::vector<std::string>* names);

struct GeneratedName {
    uint32_t hashA = 0;
    uint32_t hashB = 0;
    uint32_t locale = 0;
    bool hasSlot = false;
    uint32_t slot = 0;
};

// Formats a generated name; `extension` without its dot.
std::string FormatGeneratedName(const GeneratedName& name, const char* extension);

// Reads a generated name back (either separator, any letter case, any
// extension). False for every other name.
bool ParseGeneratedName(const char* text, GeneratedName* name);

// An extension for content that starts with `head`: "wav", "mpq", "smk", ...
// or "xxx".
const char* GuessExtension(const unsigned char* head, size_t length);

} // namespace sfmpq
