// Resource numbers of the program proper: dialog templates, the icon group
// and the controls of the four dialogs.  Shared by zqstub.rc and the C++
// code, so it holds nothing but numbers.
#ifndef ZQ_RESOURCES_RESOURCE_H
#define ZQ_RESOURCES_RESOURCE_H

// Dialogs and the icon group.
#define IDD_WIZARD 101   // wizard frame with the License Agreement controls
#define IDD_WELCOME 102  // Welcome page, a child of the frame
#define IDD_HEADER 103   // header banner page, a child of the frame
#define IDI_APP 105      // program icon: one 32 x 32 image in 16 colours
#define IDD_PROGRESS 106 // extraction progress box

// Wizard frame (IDD_WIZARD).
#define IDC_NEXT 1000
#define IDC_CANCEL 1001
#define IDC_BACK 1002
#define IDC_ACCEPT 1003
#define IDC_DECLINE 1004
#define IDC_LICENSE_TEXT 1005   // "RICHEDIT" viewer of the license text
#define IDC_LICENSE_RULE 1008   // etched rule under the header banner
#define IDC_LICENSE_PROMPT 1009

// Welcome page (IDD_WELCOME).
#define IDC_WELCOME_BODY 1006   // text is a format template: name, version
#define IDC_WELCOME_TITLE 1007  // text is a format template: name
#define IDC_BODY_BITMAP 1012

// Header banner page (IDD_HEADER).
#define IDC_HEAD_TITLE 1010
#define IDC_HEAD_BITMAP 1011

// Progress box (IDD_PROGRESS).
#define IDC_PROGRESS 1013

#endif // ZQ_RESOURCES_RESOURCE_H
