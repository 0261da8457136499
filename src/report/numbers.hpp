// Numbers and strings as the report formats write them.
#pragma once

#include <string>
#include <string_view>

namespace lumaqc::report {

// The shortest decimal text that reads back to the same double (std::to_chars);
// "nan", "inf" and "-inf" for the non-finite values.
void appendShortest(std::string& out, double value);
std::string shortest(double value);

// A JSON number in the shortest round-trip form ("-0.0" for negative zero), or
// null for NaN and +-inf.
void appendJsonNumber(std::string& out, double value);

// A JSON string literal: quotes, backslashes and control characters escaped,
// bytes that are not UTF-8 replaced by U+FFFD so the document stays valid.
void appendJsonString(std::string& out, std::string_view text);

// A text for one line of a terminal: control characters (C0, DEL and the C1
// range) and bytes that are not UTF-8 become \n, \r, \t or \xHH escapes, so a
// file name cannot move the cursor, recolour the terminal or break the line;
// everything else, backslashes included, is left as it is.
std::string terminalText(std::string_view text);

// A CSV field after RFC 4180: quoted when it holds a comma, a quote, CR or LF.
void appendCsvField(std::string& out, std::string_view text);

}  // namespace lumaqc::report
