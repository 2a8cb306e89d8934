#include "platform/xml/Xmlescape.h"

std::string XmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            if (c >= 0x20 || ch == '\t' || ch == '\n' || ch == '\r')
                out += ch;
            break;
        }
    }
    return out;
}
