#include "page/user_settings.h"

#include <windows.h>

namespace vost {

namespace {
const wchar_t kSettingsKey[] = L"Software\\VOST";
}

bool userSwitch(const wchar_t* name, bool fallback) {
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, &type, &value, &size) != ERROR_SUCCESS)
        return fallback;
    return value != 0;
}

void saveUserSwitch(const wchar_t* name, bool on) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    const DWORD value = on ? 1 : 0;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

}  // namespace vost
