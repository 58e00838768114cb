// The options dialog: the compression for ordinary files, the locale id and
// the maximum file count, edited over the values of the settings file.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "settings/options_dialog_ids.h"

// The dialog as the platform shows it: resource IDD_OPTIONS on Windows, a
// text form or the desktop's form of the same three settings elsewhere.
extern const PlatformDialogTemplate OptionsDialog;

// The dialog's message procedure. On opening it checks the radio button of
// CompType (Deflate for 2, Standard for 8, Auto for anything else) and shows
// LocaleID and MaxFiles in their edits. OK stores the three values in
// PluginSettings, writes every setting when a settings file is known and
// ends the dialog with 1; Cancel ends it with 2 and changes nothing.
intptr_t TARNEL_STDCALL OptionsDialogProc(PlatformWindow dialog, uint32_t message, uintptr_t wParam,
                                          intptr_t lParam);

// Writes all nine settings keys from PluginSettings to the settings file
// SettingsPath, in the order LoadSettings reads them. Lists are written
// joined with commas, as many whole entries as fit in 1023 characters.
void SaveSettings(void);
