// The options dialog as a text form, where there is no window system: over
// streams, and through ConfigurePacker on a pseudo-terminal.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "plugin/host_interface.h"
#include "settings/options_dialog.h"
#include "settings/plugin_settings.h"
#include "support/test_support.h"

namespace {

void UseSettingsFile(const std::string& path) {
    HostDefaults defaults = {};
    std::strncpy(defaults.settingsPath, path.c_str(), sizeof defaults.settingsPath - 1);
    PackSetDefaultParams(&defaults);
}

class OptionsTextFormTest : public PluginTest {
  protected:
    TempDir dir;
    std::string ini = dir.File("wcx.ini");
    const std::string original = "[TarnelPlugin]\nCompType=2\nLocaleID=1033\nMaxFiles=77\n";
    std::string shown;

    void SetUp() override {
        PluginTest::SetUp();
        WriteFileText(ini, original);
        UseSettingsFile(ini);
    }

    // Runs the form as ConfigurePacker would, the user typing `answers`.
    intptr_t Run(const std::string& answers) {
        LoadSettings();
        std::string input = answers;
        FILE* in =
            input.empty() ? std::fopen("/dev/null", "r") : fmemopen(&input[0], input.size(), "r");
        char* output = nullptr;
        size_t outputSize = 0;
        FILE* out = open_memstream(&output, &outputSize);
        intptr_t result = PosixRunTextForm(&OptionsDialog, OptionsDialogProc, 0, in, out);
        std::fclose(in);
        std::fclose(out);
        shown.assign(output, outputSize);
        std::free(output);
        return result;
    }
};

TEST_F(OptionsTextFormTest, ShowsTheCurrentValuesAndEnterKeepsEachOfThem) {
    EXPECT_EQ(Run("\n\n\n\n"), 1);
    EXPECT_EQ(shown, "Tarnel Options\n"
                     "Compression (Auto, Deflate, Standard) [Deflate]: "
                     "Locale ID [1033]: "
                     "Max Files [77]: "
                     "OK or Cancel [OK]: ");
    EXPECT_EQ(PluginSettings.CompType, 2);
    EXPECT_EQ(PluginSettings.LocaleID, 1033);
    EXPECT_EQ(PluginSettings.MaxFiles, 77);
    // OK writes every key, as the dialog does.
    EXPECT_NE(ReadFileText(ini).find("SimNameFileList=0"), std::string::npos);
}

TEST_F(OptionsTextFormTest, AnswersChangeTheValuesAndOkStoresAndWritesThem) {
    // Answers may end with CRLF as well as LF.
    EXPECT_EQ(Run("s\r\n 2049\r\n\r\nok\r\n"), 1);
    EXPECT_EQ(PluginSettings.CompType, 8);
    EXPECT_EQ(PluginSettings.LocaleID, 2049);
    EXPECT_EQ(PluginSettings.MaxFiles, 77);
    LoadSettings();
    EXPECT_EQ(PluginSettings.CompType, 8);
    EXPECT_EQ(PluginSettings.LocaleID, 2049);

    EXPECT_EQ(Run("AUTO\nabc\n-5\ny\n"), 1);
    EXPECT_EQ(PluginSettings.CompType, 0);
    EXPECT_EQ(PluginSettings.LocaleID, 0);
    EXPECT_EQ(PluginSettings.MaxFiles, -5);
    EXPECT_NE(ReadFileText(ini).find("MaxFiles=-5\n"), std::string::npos);

    // The last answer counts without a line end.
    EXPECT_EQ(Run("d\n7\n\nok"), 1);
    EXPECT_EQ(PluginSettings.LocaleID, 7);
}

TEST_F(OptionsTextFormTest, CancelAndTheEndOfInputChangeNothing) {
    for (const char* answers :
         {"d\n5\n5\nc\n", "s\n5\n5\nno\n", "s\n5\n5\nn\nok\n", "s\n5\n", ""}) {
        SCOPED_TRACE(answers);
        EXPECT_EQ(Run(answers), 2);
        EXPECT_EQ(PluginSettings.CompType, 2);
        EXPECT_EQ(PluginSettings.LocaleID, 1033);
        EXPECT_EQ(PluginSettings.MaxFiles, 77);
        EXPECT_EQ(ReadFileText(ini), original);
    }
}

TEST_F(OptionsTextFormTest, AnAnswerThatFitsNoChoiceIsAskedAgain) {
    EXPECT_EQ(Run("x\nDeflatex\nst\n\n\nmaybe\nOK\n"), 1);
    EXPECT_EQ(PluginSettings.CompType, 8);
    EXPECT_NE(shown.find("Please answer one of the names shown.\n"
                         "Compression (Auto, Deflate, Standard) [Deflate]: "),
              std::string::npos);
    EXPECT_NE(shown.find("Please answer OK or Cancel.\nOK or Cancel [OK]: "), std::string::npos);
}

// Of the choices an answer begins, the first shown is picked.
intptr_t TARNEL_STDCALL SizeProcedure(PlatformWindow dialog, uint32_t message, uintptr_t command,
                                      intptr_t) {
    if (message == kDialogMessageCommand) {
        int picked = 0;
        for (int id = 1; id <= 3; ++id) {
            picked = PlatformIsDialogButtonChecked(dialog, id) == 1 ? id : picked;
        }
        PlatformEndDialog(dialog, command == kDialogOk ? picked : -1);
    }
    return 1;
}

TEST_F(OptionsTextFormTest, AnAnswerThatBeginsSeveralChoicesPicksTheFirst) {
    const PlatformDialogItem items[] = {{kDialogItemGroup, -1, "Size"},
                                        {kDialogItemRadioButton, 1, "Small"},
                                        {kDialogItemRadioButton, 2, "Smaller"},
                                        {kDialogItemRadioButton, 3, "Large"}};
    const PlatformDialogTemplate sizes = {1, "Sizes", items, 4};
    std::string input = "sma\nOK\n";
    FILE* in = fmemopen(&input[0], input.size(), "r");
    FILE* out = std::fopen("/dev/null", "w");
    EXPECT_EQ(PosixRunTextForm(&sizes, SizeProcedure, 0, in, out), 1);
    std::fclose(in);
    std::fclose(out);
}

TEST_F(OptionsTextFormTest, AVeryLongAnswerIsCutNotOverrun) {
    std::string digits = "12" + std::string(5000, '3');
    EXPECT_EQ(Run("\n\n" + digits + "\n\n"), 1);
    // Only the first 254 characters are converted; the value wraps around
    // in 32 bits, as a settings value does.
    EXPECT_EQ(PluginSettings.MaxFiles, ParseDecimal(digits.substr(0, 254).c_str()));
}

// What a procedure asks of controls the dialog does not have, or of no
// dialog, is refused and changes nothing.
TEST(PosixDialogCalls, RefuseControlsAndDialogsThatAreNotThere) {
    const PlatformDialogItem items[] = {{kDialogItemGroup, -1, "Size"},
                                        {kDialogItemRadioButton, 1, "Small"},
                                        {kDialogItemEdit, 2, "Name"}};
    const PlatformDialogTemplate form = {1, "Form", items, 3};
    PosixDialog state;
    PosixDialogFromTemplate(&form, &state);
    EXPECT_EQ(PlatformSetDialogItemText(&state, 9, "x"), 0);
    EXPECT_EQ(PlatformSetDialogItemText(&state, 2, nullptr), 0);
    EXPECT_EQ(PlatformSetDialogItemText(nullptr, 2, "x"), 0);
    EXPECT_EQ(PlatformSetDialogItemText(&state, 2, "abc"), 1);
    char text[8] = "keep";
    EXPECT_EQ(PlatformGetDialogItemText(&state, 2, text, 0), 0u);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(PlatformGetDialogItemText(&state, 2, text, 3), 2u);
    EXPECT_STREQ(text, "ab");
    EXPECT_EQ(PlatformGetDialogItemText(&state, 9, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    PlatformCheckDialogButton(&state, 2); // an edit is no button
    PlatformCheckDialogButton(&state, 1);
    EXPECT_EQ(PlatformIsDialogButtonChecked(&state, 2), 0u);
    EXPECT_EQ(PlatformIsDialogButtonChecked(&state, 1), 1u);
    EXPECT_EQ(PlatformIsDialogButtonChecked(&state, 9), 0u);
    EXPECT_EQ(PlatformEndDialog(nullptr, 5), 0);
    EXPECT_FALSE(state.ended);
    EXPECT_EQ(PlatformEndDialog(&state, 5), 1);
    EXPECT_TRUE(state.ended);
    EXPECT_EQ(state.result, 5);
    EXPECT_EQ(PlatformDialogBox(nullptr, nullptr, nullptr, NeverCloses, 0), -1);
    EXPECT_EQ(PlatformDialogBox(nullptr, &form, nullptr, nullptr, 0), -1);
    // A procedure that will not close once input is over ends the form.
    FILE* in = std::fopen("/dev/null", "r");
    FILE* out = std::fopen("/dev/null", "w");
    EXPECT_EQ(PosixRunTextForm(&form, NeverCloses, 0, in, out), -1);
    std::fclose(in);
    std::fclose(out);
}

// Runs ConfigurePacker in a child process whose standard input and output
// are `terminal` (a pseudo-terminal) or /dev/null; returns its result.
int ConfigureInChild(bool terminal, const std::string& answers, std::string* output) {
    int master = -1;
    pid_t child = terminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
    if (child == 0) {
        if (!terminal) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
        }
        EndChild(ConfigurePacker(nullptr, nullptr) & 0xFF);
    }
    if (child < 0) {
        ADD_FAILURE() << "cannot start a child";
        return -1000;
    }
    if (terminal) {
        if (write(master, answers.data(), answers.size()) != static_cast<ssize_t>(answers.size())) {
            ADD_FAILURE() << "cannot type the answers";
        }
        char chunk[512];
        ssize_t n;
        while ((n = read(master, chunk, sizeof chunk)) > 0) {
            output->append(chunk, static_cast<size_t>(n));
        }
        close(master);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : -1000;
}

TEST_F(OptionsTextFormTest, AConsoleHostWithATerminalGetsTheFormFromConfigurePacker) {
    std::string output;
    EXPECT_EQ(ConfigureInChild(true, "d\n42\n\n\n", &output), 1);
    EXPECT_NE(output.find("Locale ID [1033]: "), std::string::npos) << output;
    LoadSettings();
    EXPECT_EQ(PluginSettings.CompType, 2);
    EXPECT_EQ(PluginSettings.LocaleID, 42);
    EXPECT_EQ(PluginSettings.MaxFiles, 77);

    EXPECT_EQ(ConfigureInChild(true, "s\n1\n1\ncancel\n", &output), 2);
    LoadSettings();
    EXPECT_EQ(PluginSettings.LocaleID, 42);
}

TEST_F(OptionsTextFormTest, WithoutATerminalConfigurePackerShowsNothingAndChangesNothing) {
    std::string output;
    EXPECT_EQ(ConfigureInChild(false, "", &output), -1);
    EXPECT_EQ(ReadFileText(ini), original);
}

} // namespace
