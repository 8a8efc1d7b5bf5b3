#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Dialogs.h"
#include "RunTimeError.h"
#include "modErrorReport.h"
#include "modShared.h"

using namespace folvane;

namespace {

struct Shown {
    std::string text, title;
    MessageStyle style;
};

// Records every message box and error report instead of showing it.
class SharedModuleTest : public testing::Test, public IDialogs {
protected:
    void SetUp() override
    {
        SetDialogs(this);
        kx::SetReportHandler([this](const std::string& text) { reports.push_back(text); });
    }
    void TearDown() override
    {
        SetDialogs(nullptr);
        kx::SetReportHandler(nullptr);
    }
    MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageStyle style) override
    {
        messages.push_back({text, title, style});
        return MessageAnswer::Ok;
    }
    void Beep() override {}
    std::string ChooseFolder(const std::string&) override { return {}; }

    std::vector<Shown> messages;
    std::vector<std::string> reports;
};

int32_t RaisedNumber(const std::string& text)
{
    try {
        TextToLong(text);
    } catch (const kx::RunTimeError& error) {
        return error.Number();
    }
    return 0;
}

}  // namespace

TEST(isNumber, AcceptsOnlyNonEmptyAsciiDigitStrings)
{
    const struct {
        const char* text;
        bool expected;
    } cases[] = {
        {"", false},          {"0", true},     {"007", true}, {"123", true},
        {"-5", false},        {"5.5", false},  {" 5", false}, {"5 ", false},
        {"12a4", false},      {"a123", false}, {"+1", false}, {"\xEF\xBC\x91", false},  // fullwidth 1
        {"1\xC3\xA9", false},                                                           // "1é"
    };
    for (const auto& c : cases) EXPECT_EQ(isNumber(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_TRUE(isNumber(std::string(40000, '7')));  // no length limit
}

TEST(isDigit, ComparesBetweenZeroAndNineByteByByte)
{
    EXPECT_TRUE(isDigit("0"));
    EXPECT_TRUE(isDigit("9"));
    EXPECT_FALSE(isDigit("/"));  // the byte before "0"
    EXPECT_FALSE(isDigit(":"));  // the byte after "9"
    EXPECT_FALSE(isDigit(""));
    EXPECT_FALSE(isDigit("\xC3\xA9"));
    EXPECT_TRUE(isDigit("5a"));  // a longer text compares as a whole
}

TEST_F(SharedModuleTest, ValidNumberEntryRejectsNonNumbersAndZero)
{
    for (const char* text : {"0", "000", "", "abc", "-5", " 640"}) {
        messages.clear();
        EXPECT_FALSE(ValidNumberEntry("Width", text)) << text;
        ASSERT_EQ(messages.size(), 1u) << text;
        EXPECT_EQ(messages[0].text, "Please enter a valid Width for the Images!");
        EXPECT_EQ(messages[0].title, "Error...");
        EXPECT_EQ(messages[0].style, MessageStyle::Critical);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(SharedModuleTest, ValidNumberEntryAcceptsPositiveNumbersSilently)
{
    EXPECT_TRUE(ValidNumberEntry("Width", "640"));
    EXPECT_TRUE(ValidNumberEntry("Percentage", "0050"));
    EXPECT_TRUE(ValidNumberEntry("Height", "2147483647"));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(SharedModuleTest, ValidNumberEntryReportsOverflowUnderIsNumber)
{
    EXPECT_FALSE(ValidNumberEntry("Height", "99999999999"));
    EXPECT_FALSE(ValidNumberEntry("Height", "2147483648"));
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "Error in : isNumber\r\nError Number : 6\r\nError Desc : Overflow");
}

TEST(TextToLong, ConvertsLikeTheRunTime)
{
    EXPECT_EQ(TextToLong("640"), 640);
    EXPECT_EQ(TextToLong("  0042 "), 42);
    EXPECT_EQ(TextToLong("-2147483648"), INT32_MIN);
    EXPECT_EQ(TextToLong("+2147483647"), INT32_MAX);
    EXPECT_EQ(TextToLong(std::string(50, '0') + "7"), 7);
    EXPECT_EQ(RaisedNumber("2147483648"), 6);
    EXPECT_EQ(RaisedNumber("-2147483649"), 6);
    EXPECT_EQ(RaisedNumber("99999999999999999999999"), 6);
    for (const char* text : {"", "  ", "-", "12a", "5.5", "1 2"}) EXPECT_EQ(RaisedNumber(text), 13) << text;
}

TEST(FileNameParts, ExtensionAfterLastDotFrontBeforeFirstDot)
{
    const struct {
        const char* name;
        const char* extension;
        const char* front;
    } cases[] = {
        {"archive.tar.gz", "gz", "archive"},
        {"photo.bmp", "bmp", "photo"},
        {"my.photo.bmp", "bmp", "my"},
        {"a.b.GIF", "GIF", "a"},
        {".hidden", "hidden", ""},
        {"noext", "", "noext"},
        {"trailing.", "", "trailing"},
        {"", "", ""},
        {"/home/a.b/file", "b/file", "/home/a"},
        {"\xC3\xA9t\xC3\xA9.jpg", "jpg", "\xC3\xA9t\xC3\xA9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetFileExtension(c.name), c.extension) << c.name;
        EXPECT_EQ(ExtractFileNameFront(c.name), c.front) << c.name;
    }
}
