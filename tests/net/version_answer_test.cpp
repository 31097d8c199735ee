// The version answer: "version:" and a number, compared with the running one.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "net/VersionAnswer.h"

using kivo::net::AnnouncesNewerVersion;
using kivo::net::ReadVersionNumber;

TEST(VersionAnswer, OnlyTheFirstExactTagInNineToTwentyNineBytesWithAGreaterNumberAnnounces) {
    const struct {
        std::string answer;
        bool newer;
    } cases[] = {
        {"version:1001", true},
        {"version:1000", false},
        {"version:999", false},
        {"version: 1001", true},
        {"version:\t+1001", true},
        {"version:-1001", false},
        {"version:abc", false},
        {"version:1001abc", true},
        {"version:99999999999999999999", true},  // saturates
        {"version:-99999999999999999999", false},
        {"version:", false},                                  // 8 bytes, nothing after the tag
        {"version:" + std::string(17, ' ') + "1001", true},   // 29 bytes
        {"version:" + std::string(18, ' ') + "1001", false},  // 30 bytes
        {"Version:1001", false},
        {"VERSION:1001", false},
        {"abcdversion:1001", true},  // text before the tag
        {"version:x version:2000", false},
        {"nothing here at all", false},
        {std::string("ab\0version:1001", 15), false},  // a zero byte ends the text
    };
    for (const auto& c : cases)
        EXPECT_EQ(AnnouncesNewerVersion(c.answer.c_str(), c.answer.size(), 1000), c.newer) << c.answer;
    EXPECT_TRUE(AnnouncesNewerVersion("version:2", 9, 1));  // 9 bytes
}

TEST(VersionAnswer, EnormousNumbersSaturate) {
    EXPECT_EQ(ReadVersionNumber("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(ReadVersionNumber("-99999999999999999999999"), INT_MIN);
    EXPECT_EQ(ReadVersionNumber("2147483647"), INT_MAX);
    EXPECT_EQ(ReadVersionNumber("-2147483648"), INT_MIN);
    EXPECT_EQ(ReadVersionNumber("2147483648"), INT_MAX);
    EXPECT_EQ(ReadVersionNumber(""), 0);
    EXPECT_EQ(ReadVersionNumber("-"), 0);
}
