// Resource identifiers of KTS2KUI.dll.
#pragma once

#define IDI_PORT_PAGE          101

// Page templates.
#define IDD_ADVANCED           104
#define IDD_AUTO_XON_XOFF      108
#define IDD_AUTO_RTS_CTS       109
#define IDD_AUTO_DTR_DSR       111
#define IDD_PORT_SETTINGS      119
#define IDD_SOFTWARE           120
#define IDD_MORE_HARDWARE      121

// Port Settings page.
#define IDC_SETTINGS_ICON      1015
#define IDC_SETTINGS_GROUP     1046
#define IDC_BAUD_RATE          1001
#define IDC_DATA_BITS          1002
#define IDC_PARITY             1003
#define IDC_STOP_BITS          1004
#define IDC_FLOW_CONTROL       1005
#define IDC_RESTORE_DEFAULTS   1006

// String table: list texts (in list order from each base), tab titles, messages.
#define IDS_BAUD_FIRST         200
#define IDS_DATA_BITS_FIRST    230
#define IDS_PARITY_FIRST       240
#define IDS_STOP_BITS_FIRST    250
#define IDS_FLOW_FIRST         260
#define IDS_TITLE_SETTINGS     300
#define IDS_TITLE_ADVANCED     301
#define IDS_TITLE_SOFTWARE     302
#define IDS_TITLE_XON_XOFF     303
#define IDS_TITLE_DTR_DSR      304
#define IDS_TITLE_RTS_CTS      305
#define IDS_WRITE_ERROR        310
#define IDS_SETTINGS_CAPTION   311
