// Reading and storing one key of a settings file: defaults, the caller's
// buffer size, and the inputs that are refused.
#include "platform/PrivateProfile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(ProfileString, DefaultAndBufferSize) {
    EXPECT_EQ(platform::ReadProfileString("S", "K", "dflt  ", 255, "/nonexistent/x.ini"), "dflt");
    EXPECT_EQ(platform::ReadProfileString("S", "K", "abcdef", 4, "/nonexistent/x.ini"), "abc");
    EXPECT_EQ(platform::CutToBuffer("abc", 0), "");
    EXPECT_EQ(platform::CutToBuffer("abc", 1), "");
    EXPECT_EQ(platform::CutToBuffer("abc", 4), "abc");
    // A four-byte character cut after its second byte is dropped whole.
    EXPECT_EQ(platform::CutToBuffer("a\xF0\x9F\x98\x80", 4), "a");
    // Bytes that are not UTF-8 are cut where the buffer ends.
    EXPECT_EQ(platform::CutToBuffer("ab\xB0\xA1\xB0\xA1", 4), "ab\xB0");
}

TEST(ProfileStore, RefusedInputsGiveNothing) {
    EXPECT_FALSE(platform::ProfileStore("", "S", "K", "a\nb"));
    EXPECT_FALSE(platform::ProfileStore("", "S", "[K", "v"));
    EXPECT_EQ(platform::ProfileStore("", " S ", " K ", "v"),
              std::optional<std::string>("[S]\r\nK=v\r\n"));
}

} // namespace
