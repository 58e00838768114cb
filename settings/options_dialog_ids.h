/* The options dialog's resource id and control ids, shared by the dialog
   resource and the code that drives it. Plain defines, so that the resource
   compiler reads them too. */
#pragma once

#define IDD_OPTIONS 102

#define IDC_COMP_AUTO 1005
#define IDC_COMP_DEFLATE 1002
#define IDC_COMP_STANDARD 1003
#define IDC_LOCALE_ID 1004
#define IDC_MAX_FILES 1006
