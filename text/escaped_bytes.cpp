#include "text/escaped_bytes.hpp"

namespace vardel {

std::string escapedBytes(std::string_view bytes, HighBytes high) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string escaped;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const bool kept = (byte >= 0x20 && byte < 0x7F) || (byte >= 0x80 && high == HighBytes::Kept);
        if (c == '\r') escaped += "\\r";
        else if (c == '\n') escaped += "\\n";
        else if (c == '\\') escaped += "\\\\";
        else if (kept) escaped += c;
        else escaped += std::string("\\x") + HEX[byte >> 4] + HEX[byte & 0xF];
    }
    return escaped;
}

}  // namespace vardel
