// Failures of single members or files, collected so that a reason shared by
// many is said once with a count ("341 members not extracted: out: Permission
// denied") instead of once per member.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace host {

class FailureTally {
  public:
    // `items` names what failed in the plural ("members"), `outcome` what
    // happened to them ("not extracted").
    FailureTally(std::string items, std::string outcome)
        : items_(std::move(items)), outcome_(std::move(outcome)) {}

    void Add(const std::string& name, const std::string& reason);

    // How many were added.
    size_t count() const { return count_; }

    // One line per reason, in the order the reasons first came: "NAME:
    // OUTCOME: REASON" for a reason of one, "N ITEMS OUTCOME: REASON" for a
    // reason of many.
    std::vector<std::string> Lines() const;

  private:
    struct Group {
        std::string reason;
        std::string firstName;
        size_t count = 0;
    };
    std::string items_;
    std::string outcome_;
    std::vector<Group> groups_;
    std::map<std::string, size_t> groupOf_; // by reason
    size_t count_ = 0;
};

} // namespace host
