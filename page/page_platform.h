// What the page's scan and list logic need from the platform beyond the
// analysis: file times, the short date format, the shell's image list and the
// wait cursor. Each platform layer implements this one class.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/module_node.h"
#include "analysis/platform.h"

namespace vost {

// Opaque handles: HIMAGELIST and HCURSOR on Windows.
using ImageListHandle = void*;
using CursorHandle = void*;

class PagePlatform : public AnalysisPlatform {
public:
    // The folder that stands as the current directory in the module search
    // for this scan (the selected file's folder). Each scan has its own
    // platform object, so scans running at the same time never see each
    // other's folder and the host's current directory is left alone.
    virtual void setSearchFolder(const char* folder) = 0;

    // Rewrites, in place, the path by which the user's process named the
    // selected file into the path by which the rest of the machine names it,
    // where the two differ: a 32-bit process on 64-bit Windows sees SysWOW64
    // under the name System32. Left as it is where they don't.
    virtual void toTruePath(std::string& path) { (void)path; }

    // The file's last-write time; false when it cannot be opened or read.
    virtual bool lastWriteTime(const char* path, FileTime& out) = 0;

    // The UTC calendar date of `time` in the user's short date format, or an
    // empty text when it cannot be converted.
    virtual std::string formatShortDate(FileTime time) = 0;

    // The shell's small system image list and the file's index in it (as
    // SHGetFileInfoA with SHGFI_SYSICONINDEX | SHGFI_SMALLICON). Null list on
    // failure.
    virtual ImageListHandle smallImageList(const char* path, int& icon) = 0;

    // Shows the wait cursor and returns the cursor shown before.
    virtual CursorHandle showWaitCursor() = 0;
    virtual void restoreCursor(CursorHandle previous) = 0;
};

// Shows the wait cursor for the life of the object.
class WaitCursor {
public:
    explicit WaitCursor(PagePlatform& platform)
        : platform_(platform), previous_(platform.showWaitCursor()) {}
    ~WaitCursor() { platform_.restoreCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    PagePlatform& platform_;
    CursorHandle previous_;
};

}  // namespace vost
