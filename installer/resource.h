// Resource identifiers of install.exe.
#pragma once

// String table.
#define IDS_TITLE               1
#define IDS_INF_NAME            2
#define IDS_DEFAULT_DEST        3
#define IDS_INF_CLASS           4
#define IDS_PRODUCT_KEY         5
#define IDS_VERSION_KEY         6
#define IDS_PROGRAM_FILES       7
#define IDS_BROWSE_SUFFIX       8
#define IDS_INSTALL_PATH        9
#define IDS_CONFIRM_INSTALL     10
#define IDS_CONFIRM_INSTALL_V5  11
#define IDS_CONFIRM_UNINSTALL   12
#define IDS_SECTION_INSTALL     13
#define IDS_SECTION_UNINSTALL   14
#define IDS_INIT_ERROR          15
#define IDS_FILE_NOT_FOUND      16
#define IDS_INF_LINE_ERROR      17
#define IDS_SYSTEM_ERROR        18
#define IDS_WRONG_VERSION       19
#define IDS_BAD_PARAMETER       20
#define IDS_INTERNAL_ERROR      21
#define IDS_SECTION_ENUM        22
#define IDS_SECTION_REM_ENUM    23
#define IDS_REBOOT_INSTALL      24
#define IDS_REBOOT_UNKNOWN      25
#define IDS_REBOOT_FAILED       26
#define IDS_NOT_ADMINISTRATOR   28
#define IDS_REBOOT_UNINSTALL    29
#define IDS_SECTION_PORTS       30
#define IDS_SECTION_REM_PORTS   31
#define IDS_LOGO                32
#define IDS_BANNER              33
#define IDS_OLD_INSTALLATION    34
#define IDS_LOGO_16             35
#define IDS_BANNER_16           36
#define IDS_CONFIG_NOT_FOUND    37
#define IDS_64BIT_SYSTEM        38

// Dialogs and icon.
#define IDD_DESTINATION         101
#define IDD_INSTALL_TYPE        102
#define IDI_INSTALL             103
#define IDC_DESTINATION         1000
#define IDC_BROWSE              1002
#define IDC_REINSTALL           1003
#define IDC_UNINSTALL           1004
