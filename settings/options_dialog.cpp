// The options dialog: ConfigurePacker and the dialog's procedure.
#include "settings/options_dialog.h"

#include <cstdio>

#include "plugin/host_interface.h"
#include "settings/plugin_settings.h"

namespace {

// An edit is read through a buffer of this size, so at most 254 characters
// of its text are converted.
constexpr int kEditBufferSize = 255;

const PlatformDialogItem kOptionsItems[] = {
    {kDialogItemGroup, -1, "Compression"},
    {kDialogItemRadioButton, IDC_COMP_AUTO, "Auto"},
    {kDialogItemRadioButton, IDC_COMP_DEFLATE, "Deflate"},
    {kDialogItemRadioButton, IDC_COMP_STANDARD, "Standard"},
    {kDialogItemEdit, IDC_LOCALE_ID, "Locale ID"},
    {kDialogItemEdit, IDC_MAX_FILES, "Max Files"},
};

void ShowNumber(PlatformWindow dialog, int id, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%i", static_cast<int>(value));
    PlatformSetDialogItemText(dialog, id, text);
}

int32_t ReadNumber(PlatformWindow dialog, int id) {
    char text[kEditBufferSize];
    PlatformGetDialogItemText(dialog, id, text, sizeof text);
    return ParseDecimal(text);
}

void ShowSettings(PlatformWindow dialog) {
    int button = IDC_COMP_AUTO;
    if (PluginSettings.CompType == 2) {
        button = IDC_COMP_DEFLATE;
    } else if (PluginSettings.CompType == 8) {
        button = IDC_COMP_STANDARD;
    }
    PlatformCheckDialogButton(dialog, button);
    ShowNumber(dialog, IDC_LOCALE_ID, PluginSettings.LocaleID);
    ShowNumber(dialog, IDC_MAX_FILES, PluginSettings.MaxFiles);
}

// Auto is never asked: whatever is not Deflate or Standard is automatic.
void StoreSettings(PlatformWindow dialog) {
    if (PlatformIsDialogButtonChecked(dialog, IDC_COMP_DEFLATE) == 1) {
        PluginSettings.CompType = 2;
    } else if (PlatformIsDialogButtonChecked(dialog, IDC_COMP_STANDARD) == 1) {
        PluginSettings.CompType = 8;
    } else {
        PluginSettings.CompType = 0;
    }
    PluginSettings.LocaleID = ReadNumber(dialog, IDC_LOCALE_ID);
    PluginSettings.MaxFiles = ReadNumber(dialog, IDC_MAX_FILES);
}

} // namespace

const PlatformDialogTemplate OptionsDialog = {
    IDD_OPTIONS, "Tarnel Options", kOptionsItems,
    static_cast<int>(sizeof kOptionsItems / sizeof kOptionsItems[0])};

intptr_t TARNEL_STDCALL OptionsDialogProc(PlatformWindow dialog, uint32_t message, uintptr_t wParam,
                                          intptr_t) {
    if (message == kDialogMessageInit) {
        ShowSettings(dialog);
        return 1; // the platform puts the focus on the first tab stop, OK
    }
    if (message != kDialogMessageCommand) {
        return 0;
    }
    // The whole parameter is compared: a notification (upper half non-zero)
    // from a control with id 1 or 2 is not a command.
    if (wParam == kDialogOk) {
        StoreSettings(dialog);
        if (PluginSettings.SettingsPath[0] != '\0') {
            SaveSettings();
        }
        PlatformEndDialog(dialog, kDialogOk);
        return 1;
    }
    if (wParam == kDialogCancel) {
        PlatformEndDialog(dialog, kDialogCancel);
        return 1;
    }
    return 0;
}

// Shows the dialog over the settings file's current values; returns 1 after
// OK, 2 after Cancel, -1 when the dialog cannot be shown.
extern "C" int TARNEL_STDCALL ConfigurePacker(void* parent, void* instance) {
    LoadSettings();
    return static_cast<int>(
        PlatformDialogBox(instance, &OptionsDialog, parent, OptionsDialogProc, 0));
}
