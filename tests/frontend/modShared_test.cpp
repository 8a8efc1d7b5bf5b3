#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/modShared.h"
#include "tests/support/WindowDriver.h"

using namespace folvane;
using SharedModule = kxtest::DialogsTest;

TEST_F(SharedModule, isNumberTakesOnlyAsciiDigitsAndValidNumberEntryBoxesTheRestAndZeroAndReportsOverflow)
{
    // "/" and ":" are the bytes either side of the digits; "\xEF\xBC\x91" is a fullwidth 1.
    const std::pair<const char*, bool> cases[] = {
        {"", false},   {"007", true},   {"-5", false},        {"5.5", false},
        {" 5", false}, {"12a4", false}, {"+1", false},        {"/", false},
        {":", false},  {"9/", false},   {"1\xC3\xA9", false}, {"\xEF\xBC\x91", false}};
    for (const auto& [text, expected] : cases) EXPECT_EQ(isNumber(text), expected) << '"' << text << '"';
    EXPECT_TRUE(isNumber(std::string(40000, '7')));  // no length limit
    for (const char* text : {"640", "0050", "2147483647"})
        EXPECT_TRUE(ValidNumberEntry("Width", text)) << text;
    for (const char* text : {"0", "000", "", "abc", "-5", " 640"})
        EXPECT_FALSE(ValidNumberEntry("Width", text)) << text;
    // Above 32 bits: an overflow reported under isNumber, no box.
    for (const char* text : {"99999999999", "2147483648"})
        EXPECT_FALSE(ValidNumberEntry("Height", text)) << text;
    EXPECT_EQ(dialogs.boxes,
              std::vector<std::string>(6, "Error...|Please enter a valid Width for the Images!|16"));
    EXPECT_EQ(reports, std::vector<std::string>(
                           2, "Error in : isNumber\r\nError Number : 6\r\nError Desc : Overflow"));
}
