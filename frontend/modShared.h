// The desktop program's shared module: the small text procedures that the
// main window and the batch run use. Texts are UTF-8 and may be of any length.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace folvane {

// True when `strChar` compares between "0" and "9" byte by byte, which for a
// single character means exactly the ASCII digits.
bool isDigit(std::string_view strChar);

// True when the text is not empty and every character of it is an ASCII
// digit: "0", "007" and "123" are numbers; "", "-5", "5.5" and " 5" are not.
// A multi-byte character is never a digit.
bool isNumber(std::string_view strText);

// Checks a size typed for the field `strField` ("Height", "Width",
// "Percentage"). A text that is not a number, or whose value is 0, shows
// "Please enter a valid <field> for the Images!" (critical, "Error...") and
// gives False. A value above 2147483647 is reported as an overflow under
// "isNumber" and gives False. Otherwise True.
bool ValidNumberEntry(const std::string& strField, const std::string& strText);

// Converts a size text to a 32-bit value the way the run time converts text
// to Long: ASCII digits with an optional sign, spaces allowed around them.
// Raises overflow (6) for a value outside 32 bits and type mismatch (13) for
// any other text.
int32_t TextToLong(std::string_view strText);

// For use inside a catch block: reports the exception being handled under
// `procedure` with its run-time error number and description (out of memory
// is 7; any other exception that is not a run-time error is reported as 5).
void ReportCurrentError(const std::string& procedure);

}  // namespace folvane
