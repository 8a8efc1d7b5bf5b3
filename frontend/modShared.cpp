#include "frontend/modShared.h"

#include <algorithm>
#include <limits>
#include <new>

#include "common/CheckedMath.h"
#include "common/RunTimeError.h"
#include "common/modErrorReport.h"
#include "frontend/Dialogs.h"

namespace folvane {

namespace {

constexpr int32_t errTypeMismatch = 13;

// Bytes in the UTF-8 character that starts with `lead`; a stray continuation
// or invalid byte counts as a character of its own.
size_t CharacterLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

}  // namespace

bool isDigit(std::string_view strChar)
{
    // std::string_view compares bytes as unsigned values, which keeps UTF-8
    // in code-point order.
    return strChar <= std::string_view("9") && strChar >= std::string_view("0");
}

bool isNumber(std::string_view strText)
{
    if (strText.empty()) return false;
    bool result = true;
    // Every character is visited; the loop does not stop at the first miss.
    size_t i = 0;
    while (i < strText.size()) {
        const size_t length =
            std::min(CharacterLength(static_cast<unsigned char>(strText[i])), strText.size() - i);
        if (!isDigit(strText.substr(i, length))) result = false;
        i += length;
    }
    return result;
}

bool ValidNumberEntry(const std::string& strField, const std::string& strText)
{
    try {
        if (isNumber(strText) && TextToLong(strText) != 0) return true;
        Dialogs().ShowMessage("Please enter a valid " + strField + " for the Images!", "Error...",
                              MessageStyle::Critical);
    } catch (...) {
        ReportCurrentError("isNumber");
    }
    return false;
}

int32_t TextToLong(std::string_view strText)
{
    size_t i = 0;
    const size_t end = strText.find_last_not_of(' ') + 1;  // npos + 1 == 0 for all spaces
    while (i < end && strText[i] == ' ') ++i;
    bool negative = false;
    if (i < end && (strText[i] == '+' || strText[i] == '-')) negative = strText[i++] == '-';
    if (i >= end) throw kx::RunTimeError(errTypeMismatch, "Folvane", "Type mismatch");

    // Accumulated as a negative number so that -2147483648 fits.
    int64_t value = 0;
    for (; i < end; ++i) {
        const char c = strText[i];
        if (c < '0' || c > '9') throw kx::RunTimeError(errTypeMismatch, "Folvane", "Type mismatch");
        value = value * 10 - (c - '0');
        if (value < std::numeric_limits<int32_t>::min()) kx::Raise(kx::errOverflow);
    }
    if (!negative) value = -value;
    return kx::CheckedCast<int32_t>(value);
}

void ReportCurrentError(const std::string& procedure)
{
    try {
        throw;
    } catch (const kx::RunTimeError& error) {
        kx::ReportError(procedure, error.Description(), error.Number());
    } catch (const std::bad_alloc&) {
        kx::ReportError(procedure, kx::StandardDescription(kx::errOutOfMemory), kx::errOutOfMemory);
    } catch (const std::exception& error) {
        kx::ReportError(procedure, error.what(), kx::errInvalidCall);
    } catch (...) {
        kx::ReportError(procedure, kx::StandardDescription(kx::errInvalidCall), kx::errInvalidCall);
    }
}

}  // namespace folvane
