// Resource identifiers of ktcfg.cpl.
#pragma once

// String table.
#define IDS_APPLET_INFO        1
#define IDS_APPLET_NAME        2
#define IDS_ENUMERATOR_PATH    3
#define IDS_RUN_KEY_PATH       4
#define IDS_PRODUCT_KEY_PATH   5
#define IDS_SERIAL_MAP_PATH    6
#define IDS_PARALLEL_MAP_PATH  7

// Dialogs, menus, pictures.
#define IDD_MAIN               101
#define IDD_WAIT               102
#define IDM_TREE_MENU          104
#define IDD_COMMON_PAGE        107
#define IDB_TREE_IMAGES        109
#define IDI_TOOL               111
#define IDD_DRIVER_PAGE        118
#define IDI_CARD               119
#define IDI_PORT               120
#define IDD_RESERVED_PORTS     121

// Main window controls.
#define IDC_TREE               1046
#define IDC_SHOW_UNAVAILABLE   1048
#define IDC_PROPERTIES         1049
#define IDC_ENABLE_DISABLE     1050
#define IDC_REMOVE             1052
#define IDC_AUTORUN            1068
#define IDC_RESTART_DRIVERS    1074
#define IDC_PORT_MAP           1076
#define IDC_STOP_UNUSED        1105

// Property pages "Common" and "Driver".
#define IDC_CARD_ICON          1056
#define IDC_PORT_ICON          1058
#define IDC_DEVICE_DESC        1059
#define IDC_STATUS_TEXT        1060
#define IDC_DEVICE_TYPE        1061
#define IDC_DRIVER_PROVIDER    1062
#define IDC_LOCATION           1063
#define IDC_DRIVER_VERSION     1069
#define IDC_DRIVER_DATE        1070
#define IDC_DRIVER_FILES       1073

// Reserved ports dialog.
#define IDC_COM_LIST           1096
#define IDC_LPT_LIST           1097
#define IDC_COM_EDIT           1098
#define IDC_LPT_EDIT           1099
#define IDC_COM_ADD            1100
#define IDC_COM_REMOVE         1101
#define IDC_LPT_ADD            1102
#define IDC_LPT_REMOVE         1103

// Tree context menu.
#define IDM_ENABLE             40005
#define IDM_DISABLE            40006
#define IDM_DELETE             40007
#define IDM_PROPERTIES         40008
