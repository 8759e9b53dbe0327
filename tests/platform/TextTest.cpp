#include <gtest/gtest.h>

#include "platform/Text.h"

TEST(Text, SingleByteTextBecomesUtf8AndUtf8StaysAsItIs) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"Front door", "Front door"},
        {"Entr\xE9\x65", "Entr\xC3\xA9\x65"},          // Latin-1 é
        {"Entr\xC3\xA9\x65", "Entr\xC3\xA9\x65"},      // already UTF-8
        {"\xFF\xFE", "\xC3\xBF\xC3\xBE"},              // bytes that never start UTF-8
        {"\xC3\xA9\xE9", "\xC3\x83\xC2\xA9\xC3\xA9"},  // not UTF-8 as a whole: every byte
        {"\xC0\x80", "\xC3\x80\xC2\x80"},              // overlong NUL
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},  // surrogate
        {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},  // past U+10FFFF
        {"\xE2\x82", "\xC3\xA2\xC2\x82"},                          // cut short
        {"\xF0\x9F\x93\xB7", "\xF0\x9F\x93\xB7"},                  // four bytes
        {"", ""},
    };
    for (auto& c : cases) {
        EXPECT_EQ(fsv::platform::toUtf8(c.in), c.out) << c.in;
        EXPECT_TRUE(fsv::platform::isUtf8(fsv::platform::toUtf8(c.in)));
    }
}

TEST(Text, TerminalTextHasNoControlCharacters) {
    struct Case {
        std::string in, out;
        bool keepNewlines;
    } cases[] = {
        {"\x1B]0;owned\x07Yard", "?]0;owned?Yard", false},  // window title
        {"\x1B[2J\x1B[H", "?[2J?[H", false},                // clear the screen
        {"Cam\x9B\x32J", "Cam?2J", false},                  // Latin-1 CSI
        {"Cam\xC2\x9B\x32J", "Cam?2J", false},              // the same as UTF-8
        {"a\rb\bc\x7F\x64\te", "a?b?c?d?e", false},
        {"Entr\xE9\x65\xA0", "Entr\xC3\xA9\x65\xC2\xA0", false},  // no-break space stays
        {"two\nlines", "two?lines", false},
        {"two\nlines\r", "two\nlines?", true},
        {std::string("nul\0", 4), "nul?", false},
    };
    for (auto& c : cases) EXPECT_EQ(fsv::platform::terminalText(c.in, c.keepNewlines), c.out) << c.in;
}
