// Every test gives back what it took from the process: descriptors, attached
// shared memory and child processes. Registered in each test program, this
// fails a test that leaves one behind, whatever the test itself asserts.
#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "descriptors.h"

namespace {

// The lines of /proc/self/maps that map System V shared memory.
std::set<std::string> SharedMappings() {
    std::set<std::string> mappings;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("SYSV") != std::string::npos) {
            mappings.insert(line);
        }
    }
    return mappings;
}

// The process ids of this process's children, of all its threads.
std::set<std::string> Children() {
    std::set<std::string> children;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) {
        return children;
    }
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream list(std::string("/proc/self/task/") + entry->d_name + "/children");
        for (std::string pid; list >> pid;) {
            children.insert(pid);
        }
    }
    closedir(tasks);
    return children;
}

class LeakWatch : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        descriptors_ = DescriptorTargets();
        mappings_ = SharedMappings();
        children_ = Children();
    }

    void OnTestEnd(const testing::TestInfo&) override {
        // A copy of a descriptor open before (the stream a program keeps for
        // its messages, made once) is not the test's to give back.
        std::set<std::string> before;
        for (const auto& open : descriptors_) {
            before.insert(open.second);
        }
        std::ostringstream left;
        for (const auto& open : DescriptorTargets()) {
            auto earlier = descriptors_.find(open.first);
            bool same = earlier != descriptors_.end() && earlier->second == open.second;
            if (!same && before.count(open.second) == 0) {
                left << " " << open.first << " (" << open.second << ")";
            }
        }
        EXPECT_EQ(left.str(), "") << "descriptors left open";
        std::ostringstream attached;
        for (const std::string& mapping : SharedMappings()) {
            attached << (mappings_.count(mapping) ? "" : "\n  " + mapping);
        }
        EXPECT_EQ(attached.str(), "") << "shared memory left attached";
        std::ostringstream running;
        for (const std::string& child : Children()) {
            running << (children_.count(child) ? "" : " " + child);
        }
        EXPECT_EQ(running.str(), "") << "child processes left behind";
    }

    std::map<int, std::string> descriptors_;
    std::set<std::string> mappings_;
    std::set<std::string> children_;
};

const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new LeakWatch);
    return true;
}();

} // namespace
