// The setup wizard: a modal dialog with the Welcome and License views.  It
// ends by the last Next, which hands off to the Application Manager, or by a
// confirmed Cancel, which cleans the Workspace.
#pragma once
#include <windows.h>

// Runs the wizard modally over the desktop window until it ends.
void RunWizard();

INT_PTR CALLBACK WizardProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
