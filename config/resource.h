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
