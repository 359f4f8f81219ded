// Opening the shell's real Properties dialog of a file, as Explorer does, and
// finding the Dependencies page in it. Used by open-properties.exe and by the
// tests of the real route.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "component/dependency_extension.h"

namespace vost {

// Opens the Properties dialog of `path` (UTF-8, of any script) through the
// file's context menu (verb "properties"). The shell runs the dialog inside this call until it closes,
// so `drive` runs on a second thread meanwhile. False when the shell does not
// know the file or refuses the verb.
bool showShellProperties(const std::string& path, const std::function<void()>& drive);

// Polls `done` every 20 ms until it holds or `timeoutMs` has passed.
bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs);

// The visible property sheet of this process, once one appears; null after
// `timeoutMs`.
HWND waitForPropertySheet(DWORD timeoutMs);

// Brings the sheet's tab titled `title` to the front, as a click on it does,
// and returns that page's window; null when there is no such tab.
HWND selectSheetTab(HWND sheet, const char* title);

// The extension object behind a Dependencies page (same process), as its
// dialog procedure finds it; null for any other page.
DependencyExtension* pageExtension(HWND page);

}  // namespace vost
