// The Dependencies page's dialog procedure (Windows only).
#pragma once

#include <windows.h>

#include "component/dependency_extension.h"

namespace vost {

// Dialog procedure of the page made from template 132. The page record
// (PROPSHEETPAGEW) arrives with WM_INITDIALOG; its lParam is the page's
// DependencyExtension.
INT_PTR CALLBACK pageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Inserts the list's five columns (headings from strings 1 to 5, left-aligned,
// 100 pixels) and sets full-row selection as the list's only extended style.
void insertListColumns(DependencyExtension& ext);

// Stack of the scan worker: the walk runs on it.
constexpr unsigned kScanStackSize = 0x40000;

}  // namespace vost
