// Choosing members by shell-style patterns.
#include <gtest/gtest.h>

#include "host/commands.h"
#include "host/wildcard.h"

using host::HasWildcards;
using host::PatternSelects;
using host::WildcardMatch;

TEST(Wildcard, PlainNamesMatchWholeNamesWithoutRegardToCaseOrSeparator) {
    EXPECT_TRUE(WildcardMatch("readme.txt", "readme.txt"));
    EXPECT_TRUE(WildcardMatch("README.TXT", "readme.txt"));
    EXPECT_TRUE(WildcardMatch("maps/a.txt", "maps\\a.txt"));
    EXPECT_TRUE(WildcardMatch("maps\\a.txt", "maps/a.txt"));
    EXPECT_FALSE(WildcardMatch("readme.txt", "readme.txt.bak"));
    EXPECT_FALSE(WildcardMatch("readme", "readme.txt"));
    EXPECT_FALSE(WildcardMatch("readme.txt", "readme"));
    // Only ASCII letters fold, all of them and nothing beside them.
    EXPECT_TRUE(WildcardMatch("AZ.TXT", "az.txt"));
    EXPECT_TRUE(WildcardMatch("[A-Z]", "z"));
    EXPECT_FALSE(WildcardMatch("@[", "`{"));
    EXPECT_FALSE(WildcardMatch("\xc4", "\xe4"));
}

TEST(Wildcard, StarAndQuestionMark) {
    EXPECT_TRUE(WildcardMatch("*.txt", "a.txt"));
    EXPECT_TRUE(WildcardMatch("*.txt", "maps\\deep\\a.txt")); // across folders
    EXPECT_TRUE(WildcardMatch("*", "anything"));
    EXPECT_TRUE(WildcardMatch("a*b*c", "aXXbYYbZc"));
    EXPECT_TRUE(WildcardMatch("*ab", "aab")); // needs backtracking
    EXPECT_TRUE(WildcardMatch("**x", "x"));
    EXPECT_TRUE(WildcardMatch("a**", "a")); // stars at the end match nothing
    EXPECT_TRUE(WildcardMatch("*", ""));
    EXPECT_FALSE(WildcardMatch("*.txt", "a.wav"));
    EXPECT_FALSE(WildcardMatch("a*b", "aXXbc"));
    EXPECT_TRUE(WildcardMatch("?.txt", "a.txt"));
    EXPECT_FALSE(WildcardMatch("?.txt", "ab.txt"));
    EXPECT_FALSE(WildcardMatch("a?", "a"));
}

TEST(Wildcard, CharacterSets) {
    EXPECT_TRUE(WildcardMatch("[abc].txt", "b.txt"));
    EXPECT_TRUE(WildcardMatch("[A-C].txt", "b.txt"));
    EXPECT_FALSE(WildcardMatch("[a-c].txt", "d.txt"));
    EXPECT_TRUE(WildcardMatch("[!a-c].txt", "d.txt"));
    EXPECT_TRUE(WildcardMatch("[^a-c].txt", "d.txt"));
    EXPECT_FALSE(WildcardMatch("[!a-c].txt", "a.txt"));
    EXPECT_TRUE(WildcardMatch("[]x].txt", "].txt")); // ']' first is a member
    EXPECT_TRUE(WildcardMatch("[a-].txt", "-.txt"));
    // A '[' without its ']' is an ordinary character.
    EXPECT_TRUE(WildcardMatch("a[b", "a[b"));
    EXPECT_FALSE(WildcardMatch("a[b", "ab"));
    EXPECT_FALSE(WildcardMatch("a[b", "axb"));
}

TEST(Wildcard, HasWildcards) {
    EXPECT_FALSE(HasWildcards("maps\\a.txt"));
    EXPECT_TRUE(HasWildcards("*.txt"));
    EXPECT_TRUE(HasWildcards("a?"));
    EXPECT_TRUE(HasWildcards("[ab]"));
}

TEST(Wildcard, AFolderNameChoosesEverythingInIt) {
    EXPECT_TRUE(PatternSelects("maps", "maps\\a.txt"));
    EXPECT_TRUE(PatternSelects("maps/", "maps\\deep\\a.txt"));
    EXPECT_TRUE(PatternSelects("maps\\deep", "maps\\deep\\a.txt"));
    EXPECT_TRUE(PatternSelects("m?ps", "maps\\a.txt"));
    EXPECT_FALSE(PatternSelects("maps", "mapsx\\a.txt"));
    EXPECT_FALSE(PatternSelects("maps", "maps.txt"));
    EXPECT_FALSE(PatternSelects("/", "a.txt"));
}

// Member selection finds what a name without wildcards chooses through an
// index instead of matching every member: it must choose exactly what
// PatternSelects, member by member, does.
TEST(Wildcard, SelectingByPlainNamesChoosesWhatMatchingEachMemberWould) {
    const std::vector<std::string> names = {
        "readme.txt", "Maps\\First.w3m",   "maps\\deep\\second.txt",
        "maps\\deep", "MAPS\\DEEP\\THIRD", "other\\maps\\x",
        "maps.txt",   "(listfile)",        "folder\\(attributes)",
        "Zone\\Z.TXT"};
    std::vector<host::Member> members;
    for (const std::string& name : names) {
        members.push_back({name, 1, 1});
    }
    for (const char* pattern :
         {"readme.txt", "README.TXT", "maps", "maps/", "maps\\\\", "Maps/Deep", "maps/deep/",
          "maps\\deep\\second.txt", "other", "other/maps", "map", "nothing", "(listfile)", "folder",
          "/", "maps.txt", "zone/z.txt", "ZONE"}) {
        int unmatched = 0;
        std::vector<bool> chosen =
            host::SelectMembers(members, {pattern}, "a.mpq", true, unmatched);
        bool any = false;
        for (size_t m = 0; m < names.size(); ++m) {
            bool expected = host::PatternSelects(pattern, names[m]);
            any = any || expected;
            EXPECT_EQ(chosen[m], expected) << pattern << " / " << names[m];
        }
        EXPECT_EQ(unmatched, any ? 0 : 1) << pattern;
    }
}

// The archive's own members are chosen by no pattern and by no absence of
// one, unless named exactly or asked for.
TEST(Wildcard, InternalMembersAreChosenOnlyByTheirOwnNameOrWhenAskedFor) {
    const std::vector<std::string> names = {"readme.txt", "(listfile)", "(Attributes)",
                                            "(SIGNATURE)", "maps\\(signature)"};
    std::vector<host::Member> members;
    for (const std::string& name : names) {
        members.push_back({name, 1, 1});
    }
    const struct {
        std::vector<std::string> patterns;
        bool internal;
        std::vector<bool> chosen;
    } cases[] = {
        {{}, false, {true, false, false, false, true}},
        {{"*"}, false, {true, false, false, false, true}},
        {{"(signature)"}, false, {false, false, false, true, false}},
        {{}, true, {true, true, true, true, true}},
        {{"(*)"}, true, {false, true, true, true, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.patterns) + (c.internal ? " --internal" : ""));
        int unmatched = 0;
        EXPECT_EQ(host::SelectMembers(members, c.patterns, "a.mpq", c.internal, unmatched),
                  c.chosen);
        EXPECT_EQ(unmatched, 0);
    }
}
