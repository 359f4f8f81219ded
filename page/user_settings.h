// The page's per-user switches, kept as DWORD values under
// HKEY_CURRENT_USER\Software\VOST.
#pragma once

namespace vost {

// Switch names.
constexpr const wchar_t* kUndecorateNamesSetting = L"UndecorateNames";
constexpr const wchar_t* kShowDelayLoadedSetting = L"ShowDelayLoaded";

// The switch, or `fallback` when the user never set it.
bool userSwitch(const wchar_t* name, bool fallback);
void saveUserSwitch(const wchar_t* name, bool on);

}  // namespace vost
