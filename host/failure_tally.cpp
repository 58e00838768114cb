#include "host/failure_tally.h"

namespace host {

void FailureTally::Add(const std::string& name, const std::string& reason) {
    ++count_;
    auto known = groupOf_.find(reason);
    if (known != groupOf_.end()) {
        ++groups_[known->second].count;
        return;
    }
    groupOf_[reason] = groups_.size();
    groups_.push_back(Group{reason, name, 1});
}

std::vector<std::string> FailureTally::Lines() const {
    std::vector<std::string> lines;
    for (const Group& group : groups_) {
        if (group.count == 1) {
            lines.push_back(group.firstName + ": " + outcome_ + ": " + group.reason);
        } else {
            lines.push_back(std::to_string(group.count) + " " + items_ + " " + outcome_ + ": " +
                            group.reason);
        }
    }
    return lines;
}

} // namespace host
