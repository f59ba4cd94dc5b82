#pragma once

// Conversions between the program's UTF-8 text and the platform's UTF-16 and narrow (ANSI) code
// page. Windows only.

#include <string>
#include <string_view>

namespace quindral {

std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);
// The text in the system's ANSI code page; characters it cannot hold become its default
// character ("?").
std::string AnsiFromUtf8(std::string_view utf8);

} // namespace quindral
