#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "net/VersionAnswer.h"

using kivo::net::AnnouncesNewerVersion;
using kivo::net::ReadVersionNumber;

namespace {
bool Newer(const std::string& answer, int current = 1000) {
    return AnnouncesNewerVersion(answer.c_str(), answer.size(), current);
}
}  // namespace

TEST(VersionAnswer, NumberComparedWithCurrentVersion) {
    EXPECT_TRUE(Newer("version:1001"));
    EXPECT_FALSE(Newer("version:1000"));
    EXPECT_FALSE(Newer("version:999"));
    EXPECT_TRUE(Newer("version: 1001"));
    EXPECT_TRUE(Newer("version:\t+1001"));
    EXPECT_FALSE(Newer("version:-1001"));
    EXPECT_FALSE(Newer("version:abc"));
    EXPECT_TRUE(Newer("version:1001abc"));
}

TEST(VersionAnswer, LengthMustBeNineToTwentyNineBytes) {
    EXPECT_FALSE(Newer("version:"));  // 8 bytes, nothing after the tag
    EXPECT_TRUE(Newer("version:2", 1));  // 9 bytes
    const std::string tail29 = "version:" + std::string(17, ' ') + "1001";  // 29 bytes
    ASSERT_EQ(tail29.size(), 29u);
    EXPECT_TRUE(Newer(tail29));
    const std::string tail30 = "version:" + std::string(18, ' ') + "1001";
    ASSERT_EQ(tail30.size(), 30u);
    EXPECT_FALSE(Newer(tail30));
}

TEST(VersionAnswer, TagMatchedExactlyAndOnlyTheFirstCounts) {
    EXPECT_FALSE(Newer("Version:1001"));
    EXPECT_FALSE(Newer("VERSION:1001"));
    EXPECT_TRUE(Newer("abcdversion:1001"));  // 16 bytes, text before the tag
    EXPECT_FALSE(Newer("version:x version:2000"));
    EXPECT_FALSE(Newer("nothing here at all"));
}

TEST(VersionAnswer, ZeroByteEndsTheText) {
    const std::string hidden("ab\0version:1001", 15);
    EXPECT_FALSE(AnnouncesNewerVersion(hidden.c_str(), hidden.size(), 1000));
}

TEST(VersionAnswer, EnormousNumbersSaturate) {
    EXPECT_EQ(ReadVersionNumber("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(ReadVersionNumber("-99999999999999999999999"), INT_MIN);
    EXPECT_EQ(ReadVersionNumber("2147483647"), INT_MAX);
    EXPECT_EQ(ReadVersionNumber("-2147483648"), INT_MIN);
    EXPECT_EQ(ReadVersionNumber("2147483648"), INT_MAX);
    EXPECT_EQ(ReadVersionNumber(""), 0);
    EXPECT_EQ(ReadVersionNumber("-"), 0);
    EXPECT_TRUE(Newer("version:99999999999999999999"));
    EXPECT_FALSE(Newer("version:-99999999999999999999"));
}
