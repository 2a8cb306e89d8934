#pragma once
// Text that hand-built XML places between quotes or between tags.
#include <string>
#include <string_view>

// Replaces & < > " by their entities, so that any name or path can sit in an attribute value or in
// element text without making the document malformed. Control characters that XML 1.0 cannot carry
// at all (below 0x20 other than tab, line feed and carriage return) are dropped.
std::string XmlEscape(std::string_view text);
