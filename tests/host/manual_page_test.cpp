// The manual page and tarnel --help tell the same: every usage line of the
// help is in the page's synopsis, and both name the same options.
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "host/command_line.h"

using host::Command;

namespace {

// The page's text as a reader sees it: requests and font changes gone,
// escapes turned into their characters, blanks collapsed.
std::string PlainPage() {
    std::ifstream in(TARNEL_MANUAL_PAGE);
    std::stringstream plain;
    std::string line;
    const std::pair<const char*, const char*> escapes[] = {
        {"\\-", "-"},    {"\\fB", ""},    {"\\fI", ""},   {"\\fR", ""},   {"\\fP", ""},
        {"\\(lq", "\""}, {"\\(rq", "\""}, {"\\(aq", "'"}, {"\\(bu", "*"}, {"\\\\", "\\"}};
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '.') {
            size_t request = line.find(' ');
            line = request == std::string::npos ? "" : line.substr(request + 1);
        }
        for (const auto& escape : escapes) {
            for (size_t at = line.find(escape.first); at != std::string::npos;
                 at = line.find(escape.first, at)) {
                line.replace(at, std::strlen(escape.first), escape.second);
                at += std::strlen(escape.second);
            }
        }
        plain << std::regex_replace(line, std::regex("\\s+"), " ") << "\n";
    }
    return plain.str();
}

std::string AllHelp() {
    std::string text = host::HelpText(Command::None);
    for (Command command : {Command::List, Command::Extract, Command::Test, Command::Add,
                            Command::Delete, Command::Config}) {
        text += host::HelpText(command);
    }
    return text;
}

// The options a text names: "-k" (a letter on its own) and "--long-name".
std::set<std::string> OptionsIn(const std::string& text) {
    std::set<std::string> options;
    std::regex option("(^|[\\s\\[|(,\"])(-[A-Za-z]|--[a-z][a-z-]*[a-z])(?![A-Za-z-])");
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
        options.insert((*it)[2]);
    }
    return options;
}

} // namespace

TEST(ManualPage, SaysWhatTheHelpSays) {
    std::string page = PlainPage();
    ASSERT_NE(page.find("SYNOPSIS"), std::string::npos) << "cannot read " TARNEL_MANUAL_PAGE;
    std::string help = AllHelp();
    // Each usage line, as the help writes it, is a line of the page.
    std::regex usage("usage: ([^\\n]*)\\n");
    size_t usages = 0;
    for (std::sregex_iterator it(help.begin(), help.end(), usage), end; it != end; ++it) {
        ++usages;
        EXPECT_NE(page.find("\n" + (*it)[1].str() + "\n"), std::string::npos) << (*it)[1];
    }
    EXPECT_EQ(usages, 7u);
    std::set<std::string> inHelp = OptionsIn(help);
    EXPECT_EQ(OptionsIn(page), inHelp);
    EXPECT_TRUE(inHelp.count("--keep-old-files") && inHelp.count("-T") &&
                inHelp.count("--internal"));
    // The settings file's place, and where the plug-in is looked for.
    for (const char* both : {"$XDG_CONFIG_HOME/tarnel/tarnel.ini", "../lib/tarnel/"}) {
        EXPECT_NE(help.find(both), std::string::npos) << both;
        EXPECT_NE(page.find(both), std::string::npos) << both;
    }
}
