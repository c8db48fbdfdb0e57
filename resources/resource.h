// Resource ids of the module, shared by the resource script and the code.
#pragma once

#define IDS_LIB_DESCRIPTION 1
#define IDS_CATEGORY 2
#define IDS_CLASS_NAME 3
#define IDS_PARAMS 4
#define IDS_SPIN 5

#define IDD_IMPORT_SETTINGS 101
#define IDC_INCLUDE_LODS 1001
#define IDC_LETS_GO 1002

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
