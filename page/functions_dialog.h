// The Functions dialog: what the selected module's importers take from it
// and what it exports, in two virtual list views with a filter, sortable
// columns, undecorated C++ names and Copy (Windows only; built with the
// page's commands).
#pragma once

namespace vost {

struct DependencyExtension;

// Opens the dialog for the selected module, modal to the property sheet:
// for a tree item the functions its parent imports, for a list row one
// section per importer. Beeps when nothing is selected or the scan (with
// its check) still runs.
void showFunctionsDialog(DependencyExtension& ext);

// The user's choice of "Undecorate C++ names" (HKCU\Software\VOST, DWORD
// UndecorateNames): true unless the user turned it off.
bool undecorateSetting();
void saveUndecorateSetting(bool undecorate);

}  // namespace vost
