// The order in which the tree-view control sorts items inserted with
// TVI_SORT: the user locale's word sort (lstrcmp), as the platform measures it
// for the characters that module labels hold.
//
// - Primary level: hyphen and apostrophe are skipped; the other characters
//   compare by weight: control characters, then blank and the other white
//   space, then the symbols in the order ! " # $ % & ( ) * , . / : ; ? @ [ \ ]
//   ^ _ ` { | } ~ + < = >, then the digits, then the letters with case folded.
//   A text that is a prefix of the other sorts first.
// - Case level (only when the primary level is equal): the first letter that
//   differs in case decides, lower case first.
// - Hyphen and apostrophe level (only when both levels above are equal): the
//   lists of their positions compare element by element; a mark earlier in the
//   text sorts after one later in the text, at the same position an
//   apostrophe sorts before a hyphen, and a shorter list sorts first.
// Bytes of 0x80 and above (non-ASCII characters of the ANSI code page) sort
// after the letters by their byte value, with no case or accent folding: a
// simplification, module labels being ASCII in practice.
//
// Two texts compare equal only when they are identical.
#pragma once

namespace vost {

// Negative, zero or positive as `a` sorts before, with or after `b`.
int compareTreeLabels(const char* a, const char* b);

}  // namespace vost
