// Text that must be valid UTF-8 (the JSON report): bytes that are not well-formed
// UTF-8 are replaced, not passed on, because one stray byte of a server's file name
// would otherwise make the whole document unreadable to a strict parser.
//
// Each ill-formed piece becomes U+REPLACEMENT CHARACTER (EF BF BD), one per maximal
// subpart as the Unicode standard recommends and as common decoders do: a lead byte
// with its valid continuation bytes that stops short counts once; a byte that can begin
// nothing (80..BF alone, C0, C1, F5..FF) counts once per byte. Overlong forms,
// surrogates (ED A0..BF) and values above U+10FFFF are ill-formed. Well-formed text
// (ASCII included) comes back unchanged.
#pragma once
#include <string>
#include <string_view>

std::string RepairUtf8(std::string_view bytes);
