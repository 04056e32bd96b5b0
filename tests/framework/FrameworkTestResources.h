#pragma once
// The test dialog the framework tests open.
#define IDD_FRAMEWORK_TEST 1000
#define IDD_NOT_THERE 1001
#define IDC_FLAG 2001
#define IDC_NAME 2002
#define IDC_LABEL 2003
#define IDC_ACTION 2004
