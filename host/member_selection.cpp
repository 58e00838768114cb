// Which members a command's names choose: wildcard patterns, plain names,
// folder names (everything in them), and the archive's internal members
// only when named exactly or asked for.
#include <unordered_map>

#include "host/commands.h"
#include "host/messages.h"
#include "host/wildcard.h"

namespace host {

std::string MemberKey(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        if (c == '/') {
            c = '\\';
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

bool IsInternalMember(const std::string& name) {
    std::string key = MemberKey(name);
    return key == "(listfile)" || key == "(attributes)" || key == "(signature)";
}

namespace {

// The patterns without wildcards, by the keys that choose a member: the
// pattern itself (the member's own name) and the pattern as a folder (every
// member whose name lies in it), both compared as MemberKey does.
// PatternSelects gives the same answer, one name at a time; with many names
// given (-T) that would cost patterns x members, where this looks each
// member's name and folders up once.
class LiteralPatterns {
  public:
    LiteralPatterns(const std::vector<std::string>& patterns) {
        for (size_t p = 0; p < patterns.size(); ++p) {
            if (HasWildcards(patterns[p])) {
                continue;
            }
            std::string key = MemberKey(patterns[p]);
            whole_.emplace(key, p);
            while (!key.empty() && key.back() == '\\') {
                key.pop_back();
            }
            if (!key.empty()) {
                folders_.emplace(key, p);
            }
        }
    }

    bool Empty() const { return whole_.empty(); }

    // Calls visit(pattern index) for each pattern that chooses `name`.
    template <typename Visit> void ForEach(const std::string& name, Visit visit) {
        const std::string key = MemberKey(name);
        auto whole = whole_.equal_range(key);
        for (auto it = whole.first; it != whole.second; ++it) {
            visit(it->second);
        }
        for (size_t i = 0; i < key.size(); ++i) {
            if (key[i] != '\\') {
                continue;
            }
            folder_.assign(key, 0, i);
            auto inside = folders_.equal_range(folder_);
            for (auto it = inside.first; it != inside.second; ++it) {
                visit(it->second);
            }
        }
    }

  private:
    std::unordered_multimap<std::string, size_t> whole_;
    std::unordered_multimap<std::string, size_t> folders_;
    std::string folder_; // kept, so that each look-up does not allocate
};

} // namespace

std::vector<bool> SelectMembers(const std::vector<Member>& members,
                                const std::vector<std::string>& patterns,
                                const std::string& archive, bool internal, int& unmatched) {
    std::vector<bool> chosen(members.size(), false);
    if (patterns.empty()) {
        for (size_t m = 0; m < members.size(); ++m) {
            chosen[m] = internal || !IsInternalMember(members[m].name);
        }
    }
    std::vector<bool> used(patterns.size(), false);
    std::vector<bool> internalOnly(patterns.size(), false);
    auto take = [&](size_t p, size_t m) {
        const std::string& pattern = patterns[p];
        if (!internal && IsInternalMember(members[m].name) &&
            (HasWildcards(pattern) || MemberKey(pattern) != MemberKey(members[m].name))) {
            internalOnly[p] = true;
            return;
        }
        chosen[m] = true;
        used[p] = true;
    };
    LiteralPatterns literal(patterns);
    if (!literal.Empty()) {
        for (size_t m = 0; m < members.size(); ++m) {
            literal.ForEach(members[m].name, [&](size_t p) { take(p, m); });
        }
    }
    for (size_t p = 0; p < patterns.size(); ++p) {
        if (HasWildcards(patterns[p])) {
            for (size_t m = 0; m < members.size(); ++m) {
                if (PatternSelects(patterns[p], members[m].name)) {
                    take(p, m);
                }
            }
        }
        if (!used[p] && internalOnly[p]) {
            Report(patterns[p] + ": chooses only internal members of " + archive +
                   "; name them exactly or give --internal");
            ++unmatched;
        } else if (!used[p]) {
            Report(patterns[p] + ": no such member in " + archive);
            ++unmatched;
        }
    }
    return chosen;
}

} // namespace host
