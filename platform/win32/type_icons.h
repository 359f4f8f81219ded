// Icons that belong to a file type rather than to a file.
//
// The shell draws most files with one icon per type (a DLL's is the DLL icon
// whatever the DLL holds); only types whose DefaultIcon is "%1" or that have
// an icon handler (programs, icons, shortcuts) show each file's own icon.
// Asking the shell about a file costs it a parse of the path into its
// namespace, which under Wine reads the folder and grows with the folder's
// size; asking about a type (SHGFI_USEFILEATTRIBUTES) opens nothing. So a
// file of a type-icon type gets its type's icon, asked once per type: the
// same icon the shell gives for the file itself.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace vost {

class TypeIcons {
public:
    // The small system image list and the icon index of files of the type of
    // `path` (its extension), when that type shows one icon for all its
    // files; 0 when the type shows each file's own icon (then the shell must
    // be asked about the file) or the shell gives none.
    std::uintptr_t iconOfType(const std::string& path, int& index);

private:
    struct Answer {
        std::uintptr_t list = 0;
        int index = 0;
    };
    std::unordered_map<std::string, Answer> byExtension_;  // lower-cased, with its dot
};

// The small system image list and the icon index of the type of `path` as
// the shell gives them without opening any file: asked, with the attributes
// of a plain file, for a name no file can have ("*" and the path's
// extension), since the shell takes a "%1" type's icon from the named file
// even then. 0 when the shell gives none.
std::uintptr_t shellTypeIcon(const std::string& path, int& index);

// Whether the shell shows files of `extension` (lower-cased, with its dot)
// with icons of their own, from the registry's associations.
bool iconComesFromFile(const std::string& extension);

}  // namespace vost
