// The reply parsers on their own: every accepted reply lies inside the
// buffer, everything else is unexpected output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceTestUtil.h"

using namespace fib;
using svctest::Bytes;

namespace {

struct LineCase {
    const char* title;
    std::string reply;
    size_t bufferSize; // 0: the reply's own size
    TReplyStatus status;
    std::string text;
};

class LineReplyTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineReplyTest, Parses) {
    const LineCase& c = GetParam();
    std::string buffer = c.reply;
    const size_t size = c.bufferSize == 0 ? buffer.size() : c.bufferSize;
    buffer.resize(std::max(size, buffer.size()), '\0');
    const TLineReply r = ParseLineReply(buffer.data(), size);
    EXPECT_EQ(static_cast<int>(r.Status), static_cast<int>(c.status)) << c.title;
    if (r.Status == TReplyStatus::Ok) {
        ASSERT_LE(r.TextOffset + r.TextLength, size);
        EXPECT_EQ(buffer.substr(r.TextOffset, r.TextLength), c.text) << c.title;
    }
}

const std::string Gbak = "gbak:readied database /var/tmp/x.fdb for backup ";

INSTANTIATE_TEST_SUITE_P(
    Replies, LineReplyTest,
    ::testing::Values(
        LineCase{"end of output", Bytes({0x3E, 0, 0, 1}), 0, TReplyStatus::EndOfOutput, ""},
        LineCase{"five letters", Bytes({0x3E, 5, 0}) + "abcde" + Bytes({1}), 0, TReplyStatus::Ok,
                 "abcde"},
        LineCase{"server line", Bytes({0x3E, static_cast<int>(Gbak.size()), 0}) + Gbak + Bytes({1}),
                 32000, TReplyStatus::Ok, Gbak},
        LineCase{"truncated", Bytes({0x3E, 5, 0}) + "abcde" + Bytes({2}), 0,
                 TReplyStatus::Unexpected, ""},
        LineCase{"wrong item", Bytes({0x43, 0, 0, 1}), 0, TReplyStatus::Unexpected, ""},
        LineCase{"length past the buffer", Bytes({0x3E, 0xFF, 0xFF, 1}), 16,
                 TReplyStatus::Unexpected, ""},
        LineCase{"marker just past the buffer", Bytes({0x3E, 5, 0}) + "abcde" + Bytes({1}), 8,
                 TReplyStatus::Unexpected, ""},
        LineCase{"marker on the last byte", Bytes({0x3E, 5, 0}) + "abcde" + Bytes({1}), 9,
                 TReplyStatus::Ok, "abcde"},
        LineCase{"zero byte inside the line",
                 Bytes({0x3E, 5, 0}) + std::string("ab\0de", 5) + Bytes({1}), 0, TReplyStatus::Ok,
                 "ab"},
        LineCase{"zero byte first", Bytes({0x3E, 2, 0, 0, 'x', 1}), 0, TReplyStatus::Ok, ""},
        LineCase{"high length byte", Bytes({0x3E, 0x00, 0x01}) + std::string(256, 'q') + Bytes({1}),
                 0, TReplyStatus::Ok, std::string(256, 'q')},
        LineCase{"too short for a length", Bytes({0x3E, 0}), 0, TReplyStatus::Unexpected, ""},
        LineCase{"empty", "", 0, TReplyStatus::Unexpected, ""}));

TEST(LineReply, NullBuffer) {
    EXPECT_EQ(ParseLineReply(nullptr, 100).Status, TReplyStatus::Unexpected);
    EXPECT_EQ(ParseRunningReply(nullptr, 100).Status, TReplyStatus::Unexpected);
}

struct OutputCase {
    const char* title;
    std::string reply;
    TReplyStatus status;
    std::string text;
};

class OutputReplyTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputReplyTest, Parses) {
    const OutputCase& c = GetParam();
    const TOutputReply r = ParseOutputReply(c.reply.data(), c.reply.size());
    EXPECT_EQ(static_cast<int>(r.Status), static_cast<int>(c.status)) << c.title;
    if (r.Status != TReplyStatus::Unexpected) {
        ASSERT_LE(r.TextOffset + r.TextLength, c.reply.size());
        EXPECT_EQ(c.reply.substr(r.TextOffset, r.TextLength), c.text) << c.title;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, OutputReplyTest,
    ::testing::Values(
        OutputCase{"buffer full", Bytes({0x3F, 3, 0}) + "a\nb" + Bytes({2, 1}), TReplyStatus::Ok,
                   "a\nb"},
        OutputCase{"wait ended", Bytes({0x3F, 0, 0, 0x40, 1}), TReplyStatus::Ok, ""},
        OutputCase{"not ready", Bytes({0x3F, 0, 0, 0x04, 1}), TReplyStatus::Ok, ""},
        OutputCase{"last output", Bytes({0x3F, 2, 0}) + "z\n" + Bytes({1}), TReplyStatus::Ok,
                   "z\n"},
        OutputCase{"end of output", Bytes({0x3F, 0, 0, 1}), TReplyStatus::EndOfOutput, ""},
        OutputCase{"marks without end", Bytes({0x3F, 0, 0, 2, 0x40}), TReplyStatus::Unexpected, ""},
        OutputCase{"foreign mark", Bytes({0x3F, 0, 0, 3, 1}), TReplyStatus::Unexpected, ""},
        OutputCase{"length past the reply", Bytes({0x3F, 9, 0}) + "ab" + Bytes({1}),
                   TReplyStatus::Unexpected, ""},
        OutputCase{"line reply", Bytes({0x3E, 0, 0, 1}), TReplyStatus::Unexpected, ""},
        OutputCase{"empty", "", TReplyStatus::Unexpected, ""}));

TEST(OutputLines, SplitLikeTheLineQueryAndBoundTheCarry) {
    struct Case {
        std::string carry;
        std::string output;
        size_t longest;
        std::vector<std::string> lines;
        std::string carryAfter;
    };
    const Case cases[] = {
        {"", "one\ntwo\nthr", 100, {"one ", "two "}, "thr"},
        {"thr", "ee\n\n", 100, {"three ", " "}, ""},
        {"", std::string("a\0b\nc", 5), 100, {"a"}, "c"},
        {"ab", "cdefg\nh", 4, {"abcd", "efg "}, "h"},
        {"", "xyz", 0, {"x", "y", "z"}, ""},
        {"keep", "", 10, {}, "keep"},
    };
    for (const Case& c : cases) {
        std::string carry = c.carry;
        std::vector<std::string> lines;
        EXPECT_EQ(SplitOutputLines(carry, c.output, c.longest, lines), c.lines.size()) << c.output;
        EXPECT_EQ(lines, c.lines) << c.output;
        EXPECT_EQ(carry, c.carryAfter) << c.output;
    }
}

struct RunningCase {
    std::string reply;
    TReplyStatus status;
    bool running;
};

class RunningReplyTest : public ::testing::TestWithParam<RunningCase> {};

TEST_P(RunningReplyTest, Parses) {
    const RunningCase& c = GetParam();
    const TRunningReply r = ParseRunningReply(c.reply.data(), c.reply.size());
    EXPECT_EQ(static_cast<int>(r.Status), static_cast<int>(c.status)) << svctest::Hex(c.reply);
    EXPECT_EQ(r.Running, c.running) << svctest::Hex(c.reply);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, RunningReplyTest,
    ::testing::Values(RunningCase{Bytes({0x43, 1, 0, 0, 0, 1}), TReplyStatus::Ok, true},
                      RunningCase{Bytes({0x43, 0, 0, 0, 0, 1}), TReplyStatus::Ok, false},
                      RunningCase{Bytes({0x43, 2, 0, 0, 0}), TReplyStatus::Ok, false},
                      RunningCase{Bytes({0x43, 1, 0, 0, 1}), TReplyStatus::Ok, false},
                      RunningCase{Bytes({0x3E, 1, 0, 0, 0}), TReplyStatus::Unexpected, false},
                      RunningCase{Bytes({0x02, 1, 0, 0, 0}), TReplyStatus::Unexpected, false},
                      RunningCase{Bytes({0x43, 1, 0, 0}), TReplyStatus::Unexpected, false}));

} // namespace
