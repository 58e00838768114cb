// The options dialog of the built plug-in, opened from its resource 102 by
// ConfigurePacker and driven like a user; its effects seen in the library
// calls of later operations and in the settings file, read back with
// GetPrivateProfileStringA.
#include "check.h"
#include "dialog_robot.h"
#include "message_boxes.h"
#include "plugin_under_test.h"
#include "suites.h"

namespace {

typedef DialogScript::Finish Finish;

HWND parentWindow = nullptr;

HWND Parent() {
    if (!parentWindow) {
        parentWindow = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                       nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    return parentWindow;
}

std::string SettingsFile() {
    return JoinPath(Dirs.work, "settings.ini");
}

std::string Value(const char* key) {
    return ProfileValue(SettingsFile(), "TarnelPlugin", key);
}

DialogScript Script(Finish finish) {
    DialogScript script;
    script.finish = finish;
    return script;
}

// The arguments of a recorded call "Name(a, b, c)".
std::vector<std::string> Arguments(const std::string& call) {
    std::vector<std::string> arguments;
    size_t open = call.find('(');
    size_t close = call.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return arguments;
    }
    std::string inside = call.substr(open + 1, close - open - 1);
    size_t start = 0;
    for (size_t comma; (comma = inside.find(", ", start)) != std::string::npos; start = comma + 2) {
        arguments.push_back(inside.substr(start, comma - start));
    }
    arguments.push_back(inside.substr(start));
    return arguments;
}

std::string Argument(const std::vector<std::string>& calls, size_t call, size_t argument) {
    if (call >= calls.size()) {
        return "?";
    }
    std::vector<std::string> arguments = Arguments(calls[call]);
    return argument < arguments.size() ? arguments[argument] : "?";
}

// What the next operations take from the settings, through the library
// calls they make: "locale maxFiles compression" - the locale that listing
// sets, the member limit of a new archive and the compression of an
// ordinary file. Packing comes first: it opens the archive with the member
// limit held in memory, before it reloads the settings file.
std::string SettingsInEffect() {
    Library.Reset();
    std::string archive = JoinPath(Dirs.work, "effect.mpq");
    std::string folder = Dirs.work + "\\";
    std::string list = NameList({"f.txt"});
    Entry.packFiles(&archive[0], nullptr, &folder[0], &list[0], 0);
    std::vector<std::string> calls = Library.Calls();
    std::string maxFiles = Argument(calls, 0, 2);
    std::string compression = Argument(calls, 2, 4);

    Library.Reset();
    Library.AddMember("a.txt", "a");
    OpenRequest request = {archive.c_str(), 0, 0};
    void* handle = Entry.openArchive(&request);
    if (handle) {
        Entry.closeArchive(handle);
    }
    return Argument(Library.Calls(), 0, 0) + " " + maxFiles + " " + compression;
}

// ---- before the host names a settings file --------------------------------

void OkWithoutASettingsFileChangesOnlyMemory() {
    DialogSeen seen;
    DialogScript script = Script(Finish::Ok);
    script.clicks = {1002};
    script.typeLocale = true;
    script.locale = "1031";
    script.typeMaxFiles = true;
    script.maxFiles = "77";
    CHECK_EQ(RunOptionsDialog(Parent(), script, &seen), 1);
    CHECK(seen.shown && seen.closedByScript);
    CHECK_EQ(seen.caption, "Tarnel Options");
    CHECK(seen.owner == Parent());
    CHECK_EQ(seen.controls,
             (std::vector<std::string>{"1 Button OK", "2 Button Cancel", "1005 Button Auto",
                                       "1002 Button Deflate", "1003 Button Standard", "1004 Edit 0",
                                       "1006 Edit 1024"}));
    CHECK_EQ(seen.checkedAtStart, 1005);
    CHECK_EQ(seen.checkedAfterClicks, 1002);
    CHECK_EQ(SettingsInEffect(), "1031 77 2");
    // Nothing was written anywhere, the system's own profile included.
    char text[64] = "";
    GetProfileStringA("TarnelPlugin", "CompType", "<missing>", text, sizeof text);
    CHECK_EQ(std::string(text), "<missing>");
    CHECK_BOXES({});
}

// ---- with a settings file ------------------------------------------------

void TheDialogShowsTheSettingsFile() {
    struct Case {
        const char* compType;
        int checked;
    };
    for (const Case& c : {Case{"2", 1002}, Case{"8", 1003}, Case{"0", 1005}, Case{"5", 1005}}) {
        UseSettings(std::string("[TarnelPlugin]\r\nCompType=") + c.compType +
                    "\r\nLocaleID=-7\r\nMaxFiles=300\r\n");
        DialogSeen seen;
        CHECK_EQ(RunOptionsDialog(Parent(), Script(Finish::Cancel), &seen), 2);
        CHECK_EQ(seen.checkedAtStart, c.checked);
        CHECK_EQ(seen.localeAtStart, "-7");
        CHECK_EQ(seen.maxFilesAtStart, "300");
    }
    // OK without a change after an unknown compression stores Auto.
    DialogSeen seen;
    CHECK_EQ(RunOptionsDialog(Parent(), Script(Finish::Ok), &seen), 1);
    CHECK_EQ(Value("CompType"), "0");
    CHECK_EQ(Value("LocaleID"), "-7");
    CHECK_EQ(Value("MaxFiles"), "300");
    CHECK_BOXES({});
}

void OkWritesAllNineKeys() {
    UseSettings("");
    DialogSeen seen;
    CHECK_EQ(RunOptionsDialog(Parent(), Script(Finish::Ok), &seen), 1);
    CHECK_EQ(Value("CompType"), "0");
    CHECK_EQ(Value("LocaleID"), "0");
    CHECK_EQ(Value("MaxFiles"), "1024");
    CHECK_EQ(Value("MPQDeflateExt"), "w3m,war3patch.mpq,war3.mpq");
    CHECK_EQ(Value("AudioExt"), "wav");
    CHECK_EQ(Value("AudioQuality"), "0");
    CHECK_EQ(Value("NoCompExt"), "bik,smk,mp3,mpq,w3m");
    CHECK_EQ(Value("FileLists"), "");
    CHECK_EQ(Value("SimNameFileList"), "0");

    // Lists are written back in their split form.
    UseSettings("[TarnelPlugin]\r\nAudioExt=,,wav,,mp3,\r\nAudioQuality=3\r\n");
    CHECK_EQ(RunOptionsDialog(Parent(), Script(Finish::Ok), &seen), 1);
    CHECK_EQ(Value("AudioExt"), "wav,mp3");
    CHECK_EQ(Value("AudioQuality"), "3");
}

void EachRadioButtonStoresItsCompression() {
    struct Case {
        const char* start;
        int click;
        const char* stored;
    };
    for (const Case& c : {Case{"0", 1002, "2"}, Case{"2", 1003, "8"}, Case{"8", 1005, "0"}}) {
        UseSettings(std::string("[TarnelPlugin]\r\nCompType=") + c.start + "\r\n");
        DialogScript script = Script(Finish::Ok);
        script.clicks = {c.click};
        DialogSeen seen;
        CHECK_EQ(RunOptionsDialog(Parent(), script, &seen), 1);
        CHECK_EQ(seen.checkedAfterClicks, c.click);
        CHECK_EQ(Value("CompType"), c.stored);
        CHECK_EQ(SettingsInEffect(), std::string("0 1024 ") + (c.click == 1005 ? "8" : c.stored));
    }
}

void TypedTextsAreConvertedAsNumbers() {
    struct Case {
        const char* locale;
        const char* maxFiles;
        const char* storedLocale;
        const char* storedMaxFiles;
    };
    // Only the first 254 characters of an edit are read.
    const std::string longText = std::string(253, ' ') + "123";
    for (const Case& c : {Case{"", "abc", "0", "0"}, Case{"  1036xyz", "-5", "1036", "-5"},
                          Case{longText.c_str(), "77", "1", "77"},
                          // Beyond the 32-bit range: the limit of that side, not a wrapped value.
                          Case{"-99999999999", "99999999999", "-2147483648", "2147483647"},
                          Case{"+42", "2048", "42", "2048"}}) {
        UseSettings("[TarnelPlugin]\r\nLocaleID=7\r\nMaxFiles=9\r\n");
        DialogScript script = Script(Finish::Ok);
        script.typeLocale = true;
        script.locale = c.locale;
        script.typeMaxFiles = true;
        script.maxFiles = c.maxFiles;
        DialogSeen seen;
        CHECK_EQ(RunOptionsDialog(Parent(), script, &seen), 1);
        CHECK_EQ(Value("LocaleID"), c.storedLocale);
        CHECK_EQ(Value("MaxFiles"), c.storedMaxFiles);
    }
    CHECK_EQ(SettingsInEffect(), "42 2048 8");
    CHECK_BOXES({});
}

void CancelEscapeAndCloseChangeNothing() {
    const char* content = "[TarnelPlugin]\r\nCompType=2\r\nLocaleID=1031\r\nMaxFiles=50\r\n";
    for (Finish finish : {Finish::Cancel, Finish::Escape, Finish::Close}) {
        UseSettings(content);
        DialogScript script = Script(finish);
        script.clicks = {1003};
        script.typeLocale = true;
        script.locale = "1";
        script.typeMaxFiles = true;
        script.maxFiles = "2";
        DialogSeen seen;
        CHECK_EQ(RunOptionsDialog(Parent(), script, &seen), 2);
        CHECK(seen.closedByScript);
        CHECK_EQ(ReadWholeFile(SettingsFile()), content);
        CHECK_EQ(SettingsInEffect(), "1031 50 2");
    }
    CHECK_BOXES({});
}

void EnterConfirmsLikeOk() {
    UseSettings("[TarnelPlugin]\r\nMaxFiles=50\r\n");
    DialogScript script = Script(Finish::Enter);
    script.typeMaxFiles = true;
    script.maxFiles = "64";
    DialogSeen seen;
    CHECK_EQ(RunOptionsDialog(Parent(), script, &seen), 1);
    CHECK(seen.closedByScript);
    CHECK_EQ(Value("MaxFiles"), "64");
}

void TheDialogComesFromResource102() {
    HRSRC found = FindResourceA(Plugin, MAKEINTRESOURCEA(102), MAKEINTRESOURCEA(5));
    CHECK(found != nullptr);
    if (!found) {
        return;
    }
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(Plugin, found)));
    CHECK(data != nullptr && SizeofResource(Plugin, found) >= 26);
    if (!data) {
        return;
    }
    auto word = [data](int offset) { return data[offset] | (data[offset + 1] << 8); };
    CHECK_EQ(word(0), 1);      // extended template, version 1
    CHECK_EQ(word(2), 0xFFFF); // its signature
    CHECK_EQ(static_cast<DWORD>(word(12) | (word(14) << 16)), 0x80C800C8u);
    CHECK_EQ(word(16), 11); // controls
    CHECK_EQ(word(22), 186);
    CHECK_EQ(word(24), 119);
}

} // namespace

void RunOptionsDialogTestsWithoutSettingsFile() {
    RunTest("options dialog: OK without a settings file changes only memory",
            OkWithoutASettingsFileChangesOnlyMemory);
}

void RunOptionsDialogTests() {
    Entry.setProcessDataProc(nullptr, RecordProgress);
    ProgressStopAt = 0;
    RunTest("options dialog: comes from resource 102", TheDialogComesFromResource102);
    RunTest("options dialog: shows the settings file", TheDialogShowsTheSettingsFile);
    RunTest("options dialog: OK writes all nine keys", OkWritesAllNineKeys);
    RunTest("options dialog: each radio button stores its compression",
            EachRadioButtonStoresItsCompression);
    RunTest("options dialog: typed texts are converted as numbers",
            TypedTextsAreConvertedAsNumbers);
    RunTest("options dialog: Cancel, Escape and closing change nothing",
            CancelEscapeAndCloseChangeNothing);
    RunTest("options dialog: Enter confirms like OK", EnterConfirmsLikeOk);
}
