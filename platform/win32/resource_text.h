// A string resource of a module as UTF-8, whatever its length.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/wide_text.h"

namespace vost {

// The text of string `id` in `instance`'s resources; empty when it has none.
// Asked with a zero buffer size, LoadStringW gives a pointer into the
// resource itself and the text's length.
inline std::string resourceText(HINSTANCE instance, UINT id) {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? utf8Text(std::wstring_view(text, std::size_t(length))) : std::string();
}

}  // namespace vost
