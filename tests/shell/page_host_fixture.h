// The fixture of tests that open the component's pages in this process: COM
// for the test's thread, and every object of the component gone again before
// the next test begins.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/shell/shell_host.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {

// A program of the prefix: in the system folder, else in the Windows folder
// (where Wine keeps regedit.exe).
inline std::string prefixProgram(const char* name) {
    const std::string inSystem = systemFolder() + "\\" + name;
    if (GetFileAttributesA(inSystem.c_str()) != INVALID_FILE_ATTRIBUTES) return inSystem;
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\" + name;
}

class PageHostTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_NE(Component::get().module, nullptr);
    }
    void TearDown() override {
        pumpUntil([] { return Component::get().canUnloadNow() == S_OK; }, 30000);
        EXPECT_EQ(Component::get().canUnloadNow(), S_OK);
        CoUninitialize();
    }
};

}  // namespace vost::test
