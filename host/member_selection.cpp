// Which members a command's names choose: wildcard patterns, plain names,
// folder names (everything in them), and the archive's internal members
// only when named exactly or asked for.
#include <memory>
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

// The members that a pattern without wildcards chooses, found without
// matching it against every name: by the member's own name, and by every
// folder its name lies in (a folder name chooses everything in it), both
// compared as MemberKey does. PatternSelects gives the same answer, one name
// at a time; with many names given (-T) that would cost patterns x members.
class LiteralIndex {
  public:
    explicit LiteralIndex(const std::vector<Member>& members) {
        for (size_t m = 0; m < members.size(); ++m) {
            std::string key = MemberKey(members[m].name);
            whole_.emplace(key, m);
            for (size_t i = 0; i < key.size(); ++i) {
                if (key[i] == '\\') {
                    folders_.emplace(key.substr(0, i), m);
                }
            }
        }
    }

    template <typename Visit> void ForEach(const std::string& pattern, Visit visit) const {
        std::string key = MemberKey(pattern);
        auto whole = whole_.equal_range(key);
        for (auto it = whole.first; it != whole.second; ++it) {
            visit(it->second);
        }
        while (!key.empty() && key.back() == '\\') {
            key.pop_back();
        }
        if (key.empty()) {
            return;
        }
        auto inside = folders_.equal_range(key);
        for (auto it = inside.first; it != inside.second; ++it) {
            visit(it->second);
        }
    }

  private:
    std::unordered_multimap<std::string, size_t> whole_;
    std::unordered_multimap<std::string, size_t> folders_;
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
    std::unique_ptr<LiteralIndex> literal;
    for (const std::string& pattern : patterns) {
        bool used = false;
        bool internalOnly = false;
        auto take = [&](size_t m) {
            if (!internal && IsInternalMember(members[m].name) &&
                (HasWildcards(pattern) || MemberKey(pattern) != MemberKey(members[m].name))) {
                internalOnly = true;
                return;
            }
            chosen[m] = true;
            used = true;
        };
        if (HasWildcards(pattern)) {
            for (size_t m = 0; m < members.size(); ++m) {
                if (PatternSelects(pattern, members[m].name)) {
                    take(m);
                }
            }
        } else {
            if (!literal) {
                literal.reset(new LiteralIndex(members));
            }
            literal->ForEach(pattern, take);
        }
        if (!used && internalOnly) {
            Report(pattern + ": chooses only internal members of " + archive +
                   "; name them exactly or give --internal");
            ++unmatched;
        } else if (!used) {
            Report(pattern + ": no such member in " + archive);
            ++unmatched;
        }
    }
    return chosen;
}

} // namespace host
