// Resource identifiers: dialog templates, controls, strings and the icon.
#pragma once

// Dialog templates
#define IDD_FLASHER_DIALOG 103
#define IDD_PRODUCT_DIALOG 104
#define IDD_PICTURE_DIALOG 105

// Main dialog controls
#define IDC_PROGRESS 1001
#define IDC_STATUS 1002
#define IDC_ADDRESS 1005

// Product and picture dialog controls
#define IDC_VIEW_PICTURE 1012
#define IDC_PICTURE_CAPTION 1013
#define IDC_PRODUCT_GROUP 1014
#define IDC_FIRST_PRODUCT 2000

// Strings
#define IDS_SOCKETS_INIT_FAILED 103
#define IDS_SERVER_WARNING 104
#define IDS_PRODUCT_CONFIRMATION 105

// Icon
#define IDR_MAINFRAME 128
