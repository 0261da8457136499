#include "report/numbers.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace lumaqc::report {

void appendShortest(std::string& out, double value) {
    // 24 characters hold the longest shortest form ("-2.2250738585072014e-308").
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

std::string shortest(double value) {
    std::string text;
    appendShortest(text, value);
    return text;
}

void appendJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // Readers take "-0" for the integer 0 and lose the sign; "-0.0" keeps it.
    if (value == 0.0 && std::signbit(value)) {
        out += "-0.0";
        return;
    }
    appendShortest(out, value);
}

// Length of the well-formed UTF-8 sequence at the start of text, 0 if none.
static size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    size_t length;
    uint32_t lowest;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    uint32_t code = lead & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i) & 0x3Fu);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

void appendJsonString(std::string& out, std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            switch (c) {
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 15];
            }
            ++i;
        } else {
            const size_t length = utf8SequenceLength(text.substr(i));
            if (length == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
        }
    }
    out += '"';
}

std::string terminalText(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escapeByte = [&](unsigned char c) {
        out += "\\x";
        out += hex[c >> 4];
        out += hex[c & 15];
    };
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            switch (c) {
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default: escapeByte(c);
            }
            ++i;
            continue;
        }
        const size_t length = utf8SequenceLength(text.substr(i));
        // U+0080 .. U+009F, the C1 controls, are the two bytes C2 80 .. C2 9F.
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || c1) {
            const size_t bytes = length == 0 ? 1 : length;
            for (size_t k = 0; k < bytes; ++k) escapeByte(static_cast<unsigned char>(text[i + k]));
            i += bytes;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

void appendCsvField(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(text);
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace lumaqc::report
