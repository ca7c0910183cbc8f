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

// Advanced page: the three level fields (trackbar, edit, low label, high label), UART list,
// memory access, "More >>".
#define IDC_RX_TRIGGER_BAR     1001
#define IDC_TX_TRIGGER_BAR     1002
#define IDC_TX_BUFFER_BAR      1003
#define IDC_RX_TRIGGER_EDIT    1004
#define IDC_TX_TRIGGER_EDIT    1005
#define IDC_TX_BUFFER_EDIT     1006
#define IDC_RX_TRIGGER_LOW     1007
#define IDC_RX_TRIGGER_HIGH    1008
#define IDC_TX_TRIGGER_LOW     1009
#define IDC_TX_TRIGGER_HIGH    1010
#define IDC_TX_BUFFER_LOW      1011
#define IDC_TX_BUFFER_HIGH     1012
#define IDC_UART_TYPE          1013
#define IDC_MEMORY_ACCESS      1014
#define IDC_MORE               1016

// More Hardware Settings dialog.
#define IDC_ENABLE_CKS         1001
#define IDC_RX_SOURCE          1002
#define IDC_BDOUT_ENABLE       1003
#define IDC_RX_1X              1004
#define IDC_DTR_PIN            1005
#define IDC_RI_CLOCK           1006
#define IDC_TX_1X              1007

// Auto Xon/Xoff page.
#define IDC_XON_TX_ENABLE      1001
#define IDC_XON_TX_XON         1002
#define IDC_XON_TX_XOFF        1003
#define IDC_XON_RX_ENABLE      1004
#define IDC_XON_RX_XON         1005
#define IDC_XON_RX_XOFF        1006
#define IDC_XON_LEVEL_BAR      1007
#define IDC_XON_LEVEL_EDIT     1008
#define IDC_XOFF_LEVEL_BAR     1009
#define IDC_XOFF_LEVEL_EDIT    1010
#define IDC_XON_LEVEL_LOW      1016
#define IDC_XON_LEVEL_HIGH     1017
#define IDC_XOFF_LEVEL_HIGH    1018
#define IDC_XOFF_LEVEL_LOW     1019

// Auto DTR/DSR and Auto RTS/CTS pages: the first control, the "on" and "off" level fields, the
// second check box.
#define IDC_FLOW_FIRST         1001
#define IDC_ON_LEVEL_BAR       1002
#define IDC_ON_LEVEL_EDIT      1003
#define IDC_ON_LEVEL_LOW       1004
#define IDC_ON_LEVEL_HIGH      1005
#define IDC_OFF_LEVEL_BAR      1006
#define IDC_OFF_LEVEL_EDIT     1007
#define IDC_OFF_LEVEL_LOW      1008
#define IDC_OFF_LEVEL_HIGH     1009
#define IDC_FLOW_SECOND        1010

// Software page.
#define IDC_OVERSPEED_BAR      1001
#define IDC_OVERSPEED_EDIT     1002
#define IDC_OVERSPEED_LOW      1003
#define IDC_OVERSPEED_HIGH     1004
#define IDC_FAST_RX            1005

// String table: list texts (in list order from each base), tab titles, messages.
#define IDS_BAUD_FIRST         200
#define IDS_DATA_BITS_FIRST    230
#define IDS_PARITY_FIRST       240
#define IDS_STOP_BITS_FIRST    250
#define IDS_FLOW_FIRST         260
#define IDS_RX_SOURCE_FIRST    270
#define IDS_DTR_PIN_FIRST      275
#define IDS_DTR_KIND_FIRST     280
#define IDS_TITLE_SETTINGS     300
#define IDS_TITLE_ADVANCED     301
#define IDS_TITLE_SOFTWARE     302
#define IDS_TITLE_XON_XOFF     303
#define IDS_TITLE_DTR_DSR      304
#define IDS_TITLE_RTS_CTS      305
#define IDS_WRITE_ERROR        310
#define IDS_SETTINGS_CAPTION   311
#define IDS_MORE_WARNING       312
#define IDS_MORE_CAPTION       313
