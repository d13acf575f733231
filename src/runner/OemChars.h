#pragma once
#include <string>

namespace runner {

// Replaces the accented letters that DOS programs write in code page 437/850
// (n with tilde, the acute, diaeresis and grave vowels) by the same letters
// in the given ANSI code page. With UTF-8 as the ANSI code page a letter
// becomes its two-byte sequence and bytes that already belong to a valid
// UTF-8 character are left alone; in any other code page the letter is the
// Windows-1252 byte.
std::string OemToAnsi(const std::string& text, unsigned ansiCodePage);

} // namespace runner
