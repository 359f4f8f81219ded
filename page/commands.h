// The page's commands on the selected module and on the module list. They run
// on the page's thread, reached through WM_COMMAND (ids in
// resources/resource_ids.h), and find the page's controls under `pageWindow`.
//
// Windows only: the sources are page/commands.cpp and page/module_menu.cpp,
// built as the library `vost_page_commands` by page/commands.cmake, which the
// component's CMakeLists.txt includes.
#pragma once

#include <string>

#include "page/controls.h"

namespace vost {

struct DependencyExtension;
struct CheckMarks;
struct ModuleNode;

// Whether "&Tree" (1003) is checked: the tree shows, not the list.
bool treeIsShown(DependencyExtension& ext);

// The node of the selected tree item when "&Tree" (1003) is checked, else of
// the list's selected row; null when the showing view has no selection. The
// hidden view's selection is never consulted.
ModuleNode* selectedNode(DependencyExtension& ext);

// Starts the Windows folder's explorer.exe, by its full path, with
// "/SELECT, <fullPath>" (path unquoted); beeps when nothing is selected.
void exploreSelectedModule(DependencyExtension& ext);

// Replaces the clipboard's contents with `text` (UTF-8) as CF_UNICODETEXT;
// the system offers CF_TEXT from it to programs that ask for that.
void placeOnClipboard(WindowHandle owner, const std::string& text);

// Places the whole list, tab-separated, on the clipboard as CF_UNICODETEXT.
void copyToClipboard(DependencyExtension& ext);

// The check's findings once the scan and its check are done; null before, or
// when the page was closed before the check.
const CheckMarks* finishedCheck(DependencyExtension& ext);
// Whether the check is done and found anything.
bool hasProblems(DependencyExtension& ext);
// Places the check's findings on the clipboard as CF_UNICODETEXT, one line each as
// vostscan --check writes them; nothing when there are none (yet).
void copyProblemsToClipboard(DependencyExtension& ext);

// Lets the user pick a folder and copies every listed module file into it
// through the shell.
void copyAllToFolder(DependencyExtension& ext);

// Open the feedback mail and the home page with the shell's default action.
void sendFeedback(DependencyExtension& ext);
void openHomePage(DependencyExtension& ext);

// <Windows folder>\explorer.exe; empty when the Windows folder is unknown.
std::string explorerPath();

// The command line that exploreSelectedModule starts (as UTF-16): the quoted
// `explorer`, then " /SELECT, " and the path.
std::string exploreCommandLine(const std::string& explorer, const std::string& fullPath);

extern const char* const kFeedbackAddress;  // "mailto:..."
extern const char* const kHomePageAddress;  // "https://..."

}  // namespace vost
