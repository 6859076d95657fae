// Text for the PDF's standard fonts, used when no Unicode font is installed. They show one
// byte per glyph in the Windows Latin-1 encoding (WinAnsi), while the report's texts
// (titles, file names, descriptions) are UTF-8, so every text is converted before it is
// drawn or measured: a character the encoding holds becomes its byte, any other
// character, control character or ill-formed UTF-8 piece becomes "?". No byte reaches
// the page that a viewer would show as some other character.
#pragma once
#include <string>
#include <string_view>

std::string ToWinAnsi(std::string_view utf8);
