// The options dialog's procedure and SaveSettings, driven through a dialog
// record as the platform keeps it: checked buttons, edit texts and the end.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "plugin/host_interface.h"
#include "settings/options_dialog.h"
#include "settings/plugin_settings.h"
#include "support/fake_desktop.h"
#include "support/system_call_faults.h"
#include "support/test_support.h"

namespace {

void UseSettingsFile(const std::string& path) {
    HostDefaults defaults = {};
    std::strncpy(defaults.settingsPath, path.c_str(), sizeof defaults.settingsPath - 1);
    PackSetDefaultParams(&defaults);
}

class OptionsDialogTest : public PluginTest {
  protected:
    TempDir dir;
    std::string ini = dir.File("wcx.ini");
    PosixDialog dialog;

    void SetUp() override {
        PluginTest::SetUp();
        PosixDialogFromTemplate(&OptionsDialog, &dialog);
    }

    // Loads the settings as ConfigurePacker does, then opens the dialog.
    void Open() {
        LoadSettings();
        ASSERT_EQ(OptionsDialogProc(&dialog, kDialogMessageInit, 0, 0), 1);
    }
    intptr_t Command(uintptr_t command) {
        return OptionsDialogProc(&dialog, kDialogMessageCommand, command, 0);
    }
    PosixDialogControl& Control(int id) {
        for (int i = 0; i < dialog.controlCount; ++i) {
            if (dialog.controls[i].id == id) {
                return dialog.controls[i];
            }
        }
        ADD_FAILURE() << "no control " << id;
        return dialog.controls[0];
    }
    std::string Checked() {
        std::string checked;
        for (int id : {IDC_COMP_AUTO, IDC_COMP_DEFLATE, IDC_COMP_STANDARD}) {
            if (Control(id).checked) {
                checked += std::to_string(id) + " ";
            }
        }
        return checked;
    }
    void Type(int id, const std::string& text) {
        std::strncpy(Control(id).text, text.c_str(), sizeof Control(id).text - 1);
    }
    // A user's click on a radio button: it alone of the group is checked.
    void Click(int id) {
        for (int button : {IDC_COMP_AUTO, IDC_COMP_DEFLATE, IDC_COMP_STANDARD}) {
            Control(button).checked = (button == id);
        }
    }
};

TEST_F(OptionsDialogTest, OpeningChecksTheButtonOfTheCompressionAndShowsBothNumbers) {
    struct Case {
        const char* compType;
        const char* checked;
    } cases[] = {{"2", "1002 "}, {"8", "1003 "}, {"0", "1005 "}, {"5", "1005 "}, {"-8", "1005 "}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.compType);
        WriteFileText(ini, std::string("[TarnelPlugin]\nCompType=") + c.compType +
                               "\nLocaleID=-1033\nMaxFiles=2147483647\n");
        UseSettingsFile(ini);
        PosixDialogFromTemplate(&OptionsDialog, &dialog);
        Open();
        EXPECT_EQ(Checked(), c.checked);
        EXPECT_STREQ(Control(IDC_LOCALE_ID).text, "-1033");
        EXPECT_STREQ(Control(IDC_MAX_FILES).text, "2147483647");
        EXPECT_FALSE(dialog.ended);
    }
}

TEST_F(OptionsDialogTest, OkStoresTheCheckedCompressionWithDeflateBeforeStandardAndAutoUnasked) {
    struct Case {
        int click;
        int alsoChecked;
        int32_t stored;
    } cases[] = {{IDC_COMP_DEFLATE, 0, 2},
                 {IDC_COMP_STANDARD, 0, 8},
                 {IDC_COMP_AUTO, 0, 0},
                 {IDC_COMP_DEFLATE, IDC_COMP_STANDARD, 2},
                 {IDC_COMP_STANDARD, IDC_COMP_AUTO, 8},
                 {0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.click);
        PluginSettings.CompType = 5;
        PosixDialogFromTemplate(&OptionsDialog, &dialog);
        Open();
        Click(c.click);
        if (c.alsoChecked) {
            Control(c.alsoChecked).checked = 1;
        }
        EXPECT_EQ(Command(kDialogOk), 1);
        EXPECT_EQ(PluginSettings.CompType, c.stored);
        EXPECT_TRUE(dialog.ended);
        EXPECT_EQ(dialog.result, 1);
    }
}

TEST_F(OptionsDialogTest, EditTextsAreConvertedLikeSettingsValuesAndNothingIsRefused) {
    struct Case {
        std::string text;
        int32_t value;
    } cases[] = {{"", 0},
                 {"abc", 0},
                 {"-5", -5},
                 {" 12abc", 12},
                 {"+7", 7},
                 {"4294967297", INT32_MAX},
                 {"99999999999", INT32_MAX},
                 {"-99999999999", INT32_MIN},
                 {"\t1033", 1033},
                 {"1 2", 1},
                 // Only the first 254 characters are read: the 9 is the 255th.
                 {std::string(253, ' ') + "79", 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Open();
        Type(IDC_LOCALE_ID, c.text);
        Type(IDC_MAX_FILES, c.text);
        Command(kDialogOk);
        EXPECT_EQ(PluginSettings.LocaleID, c.value);
        EXPECT_EQ(PluginSettings.MaxFiles, c.value);
    }
}

TEST_F(OptionsDialogTest, OkWritesAllNineKeysInOrderWithWhatTheReloadGave) {
    // A known file with only CompType 5, which has no button of its own and
    // comes back as automatic; the reload gave every other key its default.
    WriteFileText(ini, "[TarnelPlugin]\nCompType=5\n");
    UseSettingsFile(ini);
    Open();
    Type(IDC_MAX_FILES, "-5");
    EXPECT_EQ(Command(kDialogOk), 1);
    EXPECT_EQ(ReadFileText(ini), "[TarnelPlugin]\n"
                                 "CompType=0\n"
                                 "LocaleID=0\n"
                                 "MaxFiles=-5\n"
                                 "MPQDeflateExt=w3m,war3patch.mpq,war3.mpq\n"
                                 "AudioExt=wav\n"
                                 "AudioQuality=0\n"
                                 "NoCompExt=bik,smk,mp3,mpq,w3m\n"
                                 "FileLists=\n"
                                 "SimNameFileList=0\n");
    EXPECT_EQ(PluginSettings.MaxFiles, -5);
    EXPECT_EQ(PluginSettings.CompType, 0);
}

// Each key is written under its own name with its own value: every value
// here differs from every other.
TEST_F(OptionsDialogTest, EveryKeyIsSavedUnderItsOwnName) {
    WriteFileText(ini, "[TarnelPlugin]\nMPQDeflateExt=d1\nAudioExt=a1\nAudioQuality=2\n"
                       "NoCompExt=n1\nFileLists=f1\nSimNameFileList=1\n");
    UseSettingsFile(ini);
    Open();
    Click(IDC_COMP_STANDARD);
    Type(IDC_LOCALE_ID, "1031");
    Type(IDC_MAX_FILES, "333");
    EXPECT_EQ(Command(kDialogOk), 1);
    EXPECT_EQ(ReadFileText(ini), "[TarnelPlugin]\n"
                                 "MPQDeflateExt=d1\n"
                                 "AudioExt=a1\n"
                                 "AudioQuality=2\n"
                                 "NoCompExt=n1\n"
                                 "FileLists=f1\n"
                                 "SimNameFileList=1\n"
                                 "CompType=8\n"
                                 "LocaleID=1031\n"
                                 "MaxFiles=333\n");
}

TEST_F(OptionsDialogTest, ListsAreWrittenBackInTheirSplitFormWithWholeEntriesOnly) {
    std::string thirty;
    for (int i = 1; i <= 30; ++i) {
        thirty += (i > 1 ? "," : "") + std::to_string(i);
    }
    // Five entries of 250 characters join to 1254: four (1003) fit.
    std::string longEntries;
    for (char c : std::string("abcde")) {
        longEntries += (c != 'a' ? "," : "") + std::string(250, c);
    }
    WriteFileText(ini, "[TarnelPlugin]\nAudioExt=,,wav,,mp3,\nNoCompExt=" + thirty +
                           "\nFileLists=" + longEntries + "\n");
    UseSettingsFile(ini);
    Open();
    Command(kDialogOk);
    std::string expectedNoComp;
    for (int i = 1; i <= 25; ++i) {
        expectedNoComp += (i > 1 ? "," : "") + std::to_string(i);
    }
    std::string content = ReadFileText(ini);
    EXPECT_NE(content.find("\nAudioExt=wav,mp3\n"), std::string::npos);
    EXPECT_NE(content.find("\nNoCompExt=" + expectedNoComp + "\n"), std::string::npos);
    std::string fourEntries = longEntries.substr(0, 4 * 250 + 3);
    EXPECT_NE(content.find("\nFileLists=" + fourEntries + "\n"), std::string::npos) << content;
    LoadSettings();
    EXPECT_EQ(PluginSettings.FileLists.count, 4);
}

TEST_F(OptionsDialogTest, WithoutASettingsFileOkKeepsTheValuesInMemoryOnly) {
    SystemCallFaults calls; // recorded only: OK touches no file
    Open();
    Click(IDC_COMP_STANDARD);
    Type(IDC_LOCALE_ID, "1031");
    Type(IDC_MAX_FILES, "64");
    EXPECT_EQ(Command(kDialogOk), 1);
    EXPECT_EQ(dialog.result, 1);
    EXPECT_EQ(PluginSettings.CompType, 8);
    EXPECT_EQ(PluginSettings.LocaleID, 1031);
    EXPECT_EQ(PluginSettings.MaxFiles, 64);
    // No file known: the next load keeps them.
    LoadSettings();
    EXPECT_EQ(PluginSettings.MaxFiles, 64);
    EXPECT_FALSE(FileExists(ini));
    EXPECT_EQ(calls.count(), 0);
}

TEST_F(OptionsDialogTest, CancelChangesNothingInMemoryOrInTheFile) {
    const std::string original = "; mine\n[TarnelPlugin]\nCompType=2\nMaxFiles=77\n";
    WriteFileText(ini, original);
    UseSettingsFile(ini);
    Open();
    Click(IDC_COMP_STANDARD);
    Type(IDC_MAX_FILES, "5");
    EXPECT_EQ(Command(kDialogCancel), 1);
    EXPECT_TRUE(dialog.ended);
    EXPECT_EQ(dialog.result, 2);
    EXPECT_EQ(PluginSettings.CompType, 2);
    EXPECT_EQ(PluginSettings.MaxFiles, 77);
    EXPECT_EQ(ReadFileText(ini), original);
}

TEST_F(OptionsDialogTest, NotificationsOtherCommandsAndOtherMessagesAreNotHandled) {
    WriteFileText(ini, "[TarnelPlugin]\nMaxFiles=77\n");
    UseSettingsFile(ini);
    Open();
    Type(IDC_MAX_FILES, "5");
    const uintptr_t notification = 0x0300; // EN_CHANGE, in the upper half
    EXPECT_EQ(Command((notification << 16) | kDialogOk), 0);
    EXPECT_EQ(Command((notification << 16) | kDialogCancel), 0);
    EXPECT_EQ(Command(IDC_COMP_DEFLATE), 0);
    EXPECT_EQ(Command(0), 0);
    EXPECT_EQ(OptionsDialogProc(&dialog, 0x0010 /* close */, 0, 0), 0);
    EXPECT_EQ(OptionsDialogProc(&dialog, kDialogMessageCommand + 1, kDialogOk, 0), 0);
    EXPECT_FALSE(dialog.ended);
    EXPECT_EQ(PluginSettings.MaxFiles, 77);
    EXPECT_EQ(ReadFileText(ini), "[TarnelPlugin]\nMaxFiles=77\n");
}

TEST_F(OptionsDialogTest, WithoutATerminalOrWithAParentWindowTheDialogCannotBeShown) {
    // ...when there is no graphical session either.
    ScopedVariable display("DISPLAY", nullptr);
    ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
    WriteFileText(ini, "[TarnelPlugin]\nMaxFiles=77\n");
    UseSettingsFile(ini);
    PluginSettings.MaxFiles = 1;
    int parent = 0;
    EXPECT_EQ(ConfigurePacker(&parent, nullptr), -1);
    // The reload happened; nothing was written.
    EXPECT_EQ(PluginSettings.MaxFiles, 77);
    EXPECT_EQ(ReadFileText(ini), "[TarnelPlugin]\nMaxFiles=77\n");
}

} // namespace
