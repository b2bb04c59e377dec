// Resource identifiers shared by the resource scripts and the program.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_MAIN_DIALOG 102

#define IDC_COMMAND 1000
#define IDC_RESULT 1001
#define IDC_CONVERT 1002
