// The settings store: defaults, reading every key, list splitting, the
// decimal conversion and the suffix test.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "plugin/host_interface.h"
#include "settings/plugin_settings.h"
#include "support/test_support.h"

namespace {

std::vector<std::string> Entries(const SuffixList& list) {
    std::vector<std::string> entries;
    for (int32_t i = 0; i < list.count; ++i) {
        entries.push_back(list.entries[i]);
    }
    return entries;
}

void UseSettingsFile(const std::string& path) {
    HostDefaults defaults = {};
    std::strncpy(defaults.settingsPath, path.c_str(), sizeof defaults.settingsPath - 1);
    PackSetDefaultParams(&defaults);
}

using Strings = std::vector<std::string>;

class SettingsStoreTest : public PluginTest {
  protected:
    TempDir dir;
    std::string ini = dir.File("wcx.ini");
};

TEST_F(SettingsStoreTest, BeforeAnySettingsFileTheModuleLoadValuesHoldAndLoadingChangesNothing) {
    LoadSettings();
    EXPECT_EQ(PluginSettings.CompType, 0);
    EXPECT_EQ(PluginSettings.LocaleID, 0);
    EXPECT_EQ(PluginSettings.MaxFiles, 1024);
    EXPECT_EQ(PluginSettings.AudioQuality, 0);
    EXPECT_EQ(PluginSettings.SimNameFileList, 0);
    EXPECT_EQ(PluginSettings.MPQDeflateExt.count, 0);
    EXPECT_EQ(PluginSettings.AudioExt.count, 0);
    EXPECT_EQ(PluginSettings.NoCompExt.count, 0);
    EXPECT_EQ(PluginSettings.FileLists.count, 0);
    EXPECT_STREQ(PluginSettings.FileListsJoined, "");
}

TEST_F(SettingsStoreTest, AMissingFileGivesEveryKeyItsDefault) {
    UseSettingsFile(dir.File("absent.ini"));
    EXPECT_EQ(Entries(PluginSettings.MPQDeflateExt), (Strings{"w3m", "war3patch.mpq", "war3.mpq"}));
    EXPECT_EQ(Entries(PluginSettings.AudioExt), (Strings{"wav"}));
    EXPECT_EQ(Entries(PluginSettings.NoCompExt), (Strings{"bik", "smk", "mp3", "mpq", "w3m"}));
    EXPECT_EQ(PluginSettings.FileLists.count, 0);
    EXPECT_STREQ(PluginSettings.FileListsJoined, "");
    EXPECT_EQ(PluginSettings.MaxFiles, 1024);
    EXPECT_EQ(PluginSettings.CompType, 0);
    EXPECT_STREQ(PluginSettings.SettingsPath, dir.File("absent.ini").c_str());
}

TEST_F(SettingsStoreTest, EveryKeyIsReadFromItsSection) {
    WriteFileText(ini, "[Other]\nCompType=5\n"
                       "[TarnelPlugin]\r\n"
                       "CompType=8\r\nLocaleID=1031\r\nMaxFiles=4096\r\nMPQDeflateExt=x.mpq\r\n"
                       "AudioExt=wav,ogg\r\nAudioQuality=2\r\nNoCompExt=smk\r\n"
                       "FileLists=/l/a.txt,/l/b.txt\r\nSimNameFileList=1\r\n");
    UseSettingsFile(ini);
    EXPECT_EQ(PluginSettings.CompType, 8);
    EXPECT_EQ(PluginSettings.LocaleID, 1031);
    EXPECT_EQ(PluginSettings.MaxFiles, 4096);
    EXPECT_EQ(Entries(PluginSettings.MPQDeflateExt), (Strings{"x.mpq"}));
    EXPECT_EQ(Entries(PluginSettings.AudioExt), (Strings{"wav", "ogg"}));
    EXPECT_EQ(PluginSettings.AudioQuality, 2);
    EXPECT_EQ(Entries(PluginSettings.NoCompExt), (Strings{"smk"}));
    EXPECT_STREQ(PluginSettings.FileListsJoined, "/l/a.txt /l/b.txt");
    EXPECT_EQ(PluginSettings.SimNameFileList, 1);
}

TEST_F(SettingsStoreTest, AKeyPresentButEmptyGivesAnEmptyListNotTheDefault) {
    WriteFileText(ini, "[TarnelPlugin]\nAudioExt=\nMaxFiles=\n");
    UseSettingsFile(ini);
    EXPECT_EQ(PluginSettings.AudioExt.count, 0);
    EXPECT_EQ(PluginSettings.MaxFiles, 0);
    EXPECT_EQ(PluginSettings.NoCompExt.count, 5);
}

TEST_F(SettingsStoreTest, AnEditOfTheFileTakesEffectAtTheNextLoad) {
    WriteFileText(ini, "[TarnelPlugin]\nFileLists=/a,/b\n");
    UseSettingsFile(ini);
    EXPECT_STREQ(PluginSettings.FileListsJoined, "/a /b");
    WriteFileText(ini, "[TarnelPlugin]\nFileLists=\n");
    LoadSettings();
    EXPECT_STREQ(PluginSettings.FileListsJoined, "");
}

TEST_F(SettingsStoreTest, AnEmptyPathForgetsTheFileAndKeepsTheValues) {
    WriteFileText(ini, "[TarnelPlugin]\nLocaleID=7\n");
    UseSettingsFile(ini);
    UseSettingsFile("");
    WriteFileText(ini, "[TarnelPlugin]\nLocaleID=9\n");
    LoadSettings();
    EXPECT_EQ(PluginSettings.LocaleID, 7);
    EXPECT_STREQ(PluginSettings.SettingsPath, "");
}

TEST_F(SettingsStoreTest, AnUnterminatedHostPathIsNoPathNeitherCutNorOverrun) {
    UseSettingsFile(ini);
    HostDefaults defaults;
    std::memset(&defaults, 'x', sizeof defaults);
    PackSetDefaultParams(&defaults);
    EXPECT_STREQ(PluginSettings.SettingsPath, "");
    UseSettingsFile(ini);
    PackSetDefaultParams(nullptr);
    EXPECT_EQ(std::string(PluginSettings.SettingsPath), ini) << "no defaults change nothing";
}

TEST_F(SettingsStoreTest, OnlyTheFirst1999CharactersOfAValueAreSeen) {
    std::string pieces;
    for (int i = 0; i < 24; ++i) {
        pieces += std::string(80, static_cast<char>('a' + i)) + ",";
    }
    // 24 pieces of 80 characters and a comma make 1944; the 25th piece is cut
    // at the 1999th character, so it holds 55 characters.
    pieces += std::string(100, 'z');
    WriteFileText(ini, "[TarnelPlugin]\nNoCompExt=" + pieces + "\n");
    UseSettingsFile(ini);
    ASSERT_EQ(PluginSettings.NoCompExt.count, 25);
    EXPECT_EQ(std::string(PluginSettings.NoCompExt.entries[24]), std::string(55, 'z'));
}

TEST(SplitList, CommasOnlyAndNothingTrimmed) {
    SuffixList list;
    EXPECT_EQ(SplitList(&list, ",,wav,,mp3,"), 2);
    EXPECT_EQ(std::string(list.entries[0]), "wav");
    EXPECT_EQ(std::string(list.entries[1]), "mp3");
    list.count = SplitList(&list, "wav, mp3;x. y");
    EXPECT_EQ(Entries(list), (Strings{"wav", " mp3;x. y"}));
    EXPECT_EQ(SplitList(&list, ""), 0);
    EXPECT_EQ(SplitList(&list, ",,,"), 0);
}

TEST(SplitList, TakesTheFirst25PiecesAndSkipsPiecesTooLongForAnEntry) {
    std::string text;
    for (int i = 0; i < 30; ++i) {
        text += "p" + std::to_string(i) + ",";
    }
    SuffixList list;
    list.count = SplitList(&list, text.c_str());
    ASSERT_EQ(list.count, 25);
    EXPECT_STREQ(list.entries[24], "p24");

    std::string withLong = "a," + std::string(260, 'L') + "," + std::string(259, 'k') + ",b";
    list.count = SplitList(&list, withLong.c_str());
    EXPECT_EQ(Entries(list), (Strings{"a", std::string(259, 'k'), "b"}));
}

TEST(JoinList, HoldsOnlyWholeEntriesThatFit) {
    SuffixList list;
    std::string text;
    for (int i = 0; i < 5; ++i) {
        text += std::string(250, static_cast<char>('a' + i)) + ",";
    }
    list.count = SplitList(&list, text.c_str());
    char joined[kJoinedListSize];
    uint32_t length = JoinList(&list, ' ', joined, sizeof joined);
    // Four entries and three blanks make 1003 characters; a fifth would not fit.
    EXPECT_EQ(length, 1003u);
    EXPECT_EQ(std::strlen(joined), 1003u);
    EXPECT_EQ(joined[1002], 'd');

    // A fifth entry that ends exactly at 1023 characters fits; one longer by
    // one does not, and the list ends there: a shorter sixth that would fit
    // is not taken in its place.
    for (size_t fifth : {19u, 20u}) {
        SCOPED_TRACE(fifth);
        std::string four = text.substr(0, 4 * 251);
        list.count = SplitList(&list, (four + std::string(fifth, 'e') + ",f").c_str());
        length = JoinList(&list, ' ', joined, sizeof joined);
        EXPECT_EQ(length, fifth == 19 ? 1023u : 1003u);
        EXPECT_EQ(std::strlen(joined), length);
    }
    joined[0] = 'x';
    EXPECT_EQ(JoinList(&list, ' ', joined, 0), 0u);
    EXPECT_EQ(joined[0], 'x') << "no room, not even for the end";
}

TEST(ParseDecimal, SkipsWhiteSpaceTakesOneSignAndStopsAtTheFirstNonDigit) {
    EXPECT_EQ(ParseDecimal(" 12abc"), 12);
    EXPECT_EQ(ParseDecimal("abc"), 0);
    EXPECT_EQ(ParseDecimal("-3"), -3);
    EXPECT_EQ(ParseDecimal("+7"), 7);
    EXPECT_EQ(ParseDecimal("\t\n\v\f\r 42"), 42);
    EXPECT_EQ(ParseDecimal("--1"), 0);
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("-2147483648"), INT32_MIN);
}

TEST(ParseDecimal, NumbersBeyondTheSigned32BitRangeSaturateAtTheLimitOfTheirSide) {
    const struct {
        std::string text;
        int32_t value;
    } cases[] = {
        {"2147483647", INT32_MAX},           {"2147483646", INT32_MAX - 1},
        {"2147483648", INT32_MAX},           {"2147483650", INT32_MAX},
        {"4294967297", INT32_MAX},           {"99999999999", INT32_MAX},
        {"+99999999999x5", INT32_MAX},       {" 000000000000000000002147483647", INT32_MAX},
        {"-000000000000000000012", -12},     {"-2147483647", INT32_MIN + 1},
        {"-2147483649", INT32_MIN},          {"-4294967296", INT32_MIN},
        {"-99999999999", INT32_MIN},         {"-0", 0},
        {std::string(1999, '9'), INT32_MAX}, {"-" + std::string(1998, '7') + "abc", INT32_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        EXPECT_EQ(ParseDecimal(c.text.c_str()), c.value);
    }
}

TEST(EndsWithNoCase, FoldsOnlyAsciiLettersAndImpliesNoDot) {
    EXPECT_TRUE(EndsWithNoCase("Maps\\Test.W3M", "w3m"));
    EXPECT_TRUE(EndsWithNoCase("music.wav", "WAV"));
    EXPECT_TRUE(EndsWithNoCase("slowav", "wav"));
    EXPECT_TRUE(EndsWithNoCase("x\\War3.MPQ", "war3.mpq"));
    EXPECT_FALSE(EndsWithNoCase("w3m", ".w3m"));
    EXPECT_FALSE(EndsWithNoCase("file.\xC4", "\xE4")); // letters outside ASCII are not folded
    EXPECT_FALSE(EndsWithNoCase("file.wa", "wav"));
    EXPECT_TRUE(EndsWithNoCase("WAV", "wav")); // a suffix as long as the name
    EXPECT_FALSE(EndsWithNoCase("wax", "wav"));
    EXPECT_TRUE(EndsWithNoCase("", ""));
    EXPECT_FALSE(EndsWithNoCase("a@", "`")); // neighbours of the letter ranges stay distinct
    // Every pair of bytes: the same only when equal, or one letter of A-Z and
    // its small form.
    for (int c = 1; c < 256; ++c) {
        for (int d = 1; d < 256; ++d) {
            const char name[] = {static_cast<char>(c), '\0'};
            const char suffix[] = {static_cast<char>(d), '\0'};
            const bool letters =
                (c >= 'A' && c <= 'Z' && d == c + 32) || (d >= 'A' && d <= 'Z' && c == d + 32);
            ASSERT_EQ(EndsWithNoCase(name, suffix), c == d || letters) << c << " " << d;
        }
    }
}

} // namespace
