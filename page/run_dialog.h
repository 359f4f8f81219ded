// The page's "Run and Record...": a modeless dialog, owned by the property
// sheet, that runs the page's program under the recorder helper of its
// bitness (vostrun32.exe or vostrun64.exe beside vost.dll: the shell's
// process never hosts the debugged program) and shows the record as it
// comes in; when the run ends, the page's tree and list gain what it found
// (page/run_merge.h). One run per page. Windows only; built with the page's
// commands.
#pragma once

#include <windows.h>

namespace vost {

struct DependencyExtension;
struct ModuleNode;

// The page's message from the thread that reads the helper's record: new
// events, or the record's end.
constexpr UINT kRunProgressMessage = WM_APP + 0x5610;

// Whether "Run and Record..." applies to `node`: the root item, once the
// scan and its check are done, of an x86 or x64 program (no DLL).
bool canRunAndRecord(DependencyExtension& ext, const ModuleNode* node);

// Opens the page's dialog, or brings it up when it is open; nothing runs
// until its Start is clicked. Beeps when the command does not apply.
void showRunDialog(DependencyExtension& ext);

// kRunProgressMessage: shows the new events; at the end, merges the run
// into the page.
void onRunProgress(DependencyExtension& ext);

// The sheet is closing (OK, Cancel, its close box) while a program runs
// under the recorder: asks whether to end it too (No lets it run on; the
// recording ends either way). False when the user cancels the closing, which
// `mayStay` offers (the sheet asks its current page whether it may close,
// then tells every page that it closes).
bool confirmCloseDuringRun(DependencyExtension& ext, bool mayStay = true);

// The page's window is going: its recording ends, and a program nobody was
// asked about is ended with it.
void endRunWithPage(DependencyExtension& ext);

}  // namespace vost
