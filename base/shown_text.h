// Texts that came from elsewhere (a server, a stored file name) made safe to show on a
// terminal: no control character reaches it to move the cursor, set the title or write
// to the clipboard.
#pragma once
#include <string>
#include <string_view>

// The text with every C0 control character, DEL and C1 control character shown as "?".
// A C1 character counts both as its UTF-8 form (U+0080 to U+009F) and as a lone byte
// 0x80 to 0x9F that is not part of a UTF-8 sequence; every other byte is kept, so names
// in any script (and Latin-1 letters) show as they are.
std::string ShownText(std::string_view text);
