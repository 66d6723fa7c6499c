// The wizard's two child pages.  Each loads and deletes its own bitmap file
// while it is created and frees its drawing objects when it is destroyed.
#pragma once
#include <windows.h>

// IDD_WELCOME: product name and version in its texts, the body bitmap at
// its top-left corner.
INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// IDD_HEADER: the banner over the License view, the head bitmap flush right.
INT_PTR CALLBACK HeaderPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
