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
#include <cstring>
#include <string>
#include <vector>

namespace sfmpq {

// Longest member name the library lists or accepts, without the zero.
constexpr size_t kMaxMemberName = 259;

// Names in their order, kept as one block of text (each name followed by its
// zero), not as one allocation per name: a name list, or a listing's names
// for the work-ahead stream.
class NameBlock {
  public:
    void Clear();
    // Makes room for `count` more names of `bytes` in all (zeros included),
    // so that a block of known size is not copied as it grows.
    void Reserve(size_t bytes, size_t count);
    void Add(const char* name, size_t length);
    size_t Size() const { return ends_.size(); }
    // Name `index`, zero-terminated, and its length; `index` < Size().
    const char* At(size_t index) const { return text_.data() + Begin(index); }
    size_t Length(size_t index) const { return ends_[index] - 1 - Begin(index); }
    // Whether name `index` is `name` (byte for byte); false past the end.
    bool Is(size_t index, const char* name) const;

  private:
    size_t Begin(size_t index) const { return index == 0 ? 0 : ends_[index - 1]; }

    std::string text_;
    std::vector<size_t> ends_; // where each name's zero ends
};

// Names in an order of their own, each a name of `block` by its index: a
// listing's members in slot order, named from the lists without copying
// the names again.
class OrderedNames {
  public:
    NameBlock block;

    void Clear() {
        block.Clear();
        order_.clear();
    }
    void Reserve(size_t count) { order_.reserve(count); }
    // Puts name `index` of the block next in the order.
    void Append(uint32_t index) { order_.push_back(index); }
    size_t Size() const { return order_.size(); }
    // The name in place `place` < Size().
    const char* At(size_t place) const { return block.At(order_[place]); }
    // Whether the name in place `place` is `name`; false past the end.
    bool Is(size_t place, const char* name) const {
        return place < order_.size() && block.Is(order_[place], name);
    }

  private:
    std::vector<uint32_t> order_;
};

// A listing's names in order, kept as fingerprints (4 bytes a name, kept in
// the host's memory for as long as the archive is open): enough to tell
// which member a reader most likely asks for next. Two names may share a
// fingerprint, rarely: what it says is a guess, to be checked against the
// member itself, and a wrong guess costs one request.
class NameFingerprints {
  public:
    void Clear() { prints_.clear(); }
    void Reserve(size_t count) { prints_.reserve(count); }
    void Add(const char* name, size_t length) { prints_.push_back(Fingerprint(name, length)); }
    size_t Size() const { return prints_.size(); }
    // Whether name `index` may be `name`: always when it is; false past the
    // end.
    bool MayBe(size_t index, const char* name) const {
        return index < prints_.size() && prints_[index] == Fingerprint(name, std::strlen(name));
    }

  private:
    // FNV-1a, 32 bits.
    static uint32_t Fingerprint(const char* name, size_t length) {
        uint32_t print = 0x811C9DC5u;
        for (size_t i = 0; i < length; ++i) {
            print = (print ^ static_cast<unsigned char>(name[i])) * 0x01000193u;
        }
        return print;
    }

    std::vector<uint32_t> prints_;
};

// Adds the names of a name list's text, split at CR, LF, ';' and zeros.
// Empty names and names longer than kMaxMemberName are skipped; '/' becomes
// '\'.
void SplitNameList(const char* text, size_t length, NameBlock* names);

// Adds the names of every readable name-list file in `paths`: one path, or
// several joined by single spaces (a path may contain spaces itself: at each
// point the longest run of words that names a readable file is taken).
// Pieces that name no readable file are skipped.
void ReadNameListFiles(const char* paths, NameBlock* names);

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
