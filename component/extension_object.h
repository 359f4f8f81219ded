// The COM behaviour of DependencyExtension: the interfaces IShellExtInit and
// IShellPropSheetExt written by hand over the record, the creation of the
// Dependencies page and the page's tab-icon setting.
#pragma once

#include <windows.h>
#include <prsht.h>

#include "component/dependency_extension.h"

namespace vost {

// A new object with reference count 0 (objectCount raised); null when it
// cannot be allocated.
DependencyExtension* newDependencyExtension();

// Destroys the object: releases its data object, lowers objectCount.
void deleteDependencyExtension(DependencyExtension* extension);

HRESULT STDMETHODCALLTYPE extensionQueryInterface(DependencyExtension* self, REFIID riid, void** ppv);
ULONG STDMETHODCALLTYPE extensionAddRef(DependencyExtension* self);
ULONG STDMETHODCALLTYPE extensionRelease(DependencyExtension* self);

// The "MiniIcon" setting: false only when the value under
// HKLM\Software\Aldervane\VOST reads back non-empty and begins with '0'.
bool usePageIcon();

// The page's PROPSHEETPAGE callback: PSPCB_RELEASE drops the page's
// reference on its extension object. Always 1.
UINT CALLBACK pageCallback(HWND window, UINT message, LPPROPSHEETPAGEW page);

}  // namespace vost
