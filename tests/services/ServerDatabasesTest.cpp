// The reply to the query of the databases in use and their attachments: the
// counts and names read, and every reply it cannot be sure of refused.
#include "services/ServerDatabases.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

using fib::TServerDatabases;

std::string Number(char item, uint32_t value) {
    std::string out(1, item);
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return out;
}

std::string Name(const std::string& name) {
    std::string out(1, '\x6A');
    out += static_cast<char>(name.size() & 0xFF);
    out += static_cast<char>((name.size() >> 8) & 0xFF);
    return out + name;
}

TEST(ServerDatabases, ReadsCountsAndNames) {
    const std::string reply = "\x32"s + Number(5, 3) + Number(6, 2) + Name("/var/tmp/a.fdb") +
                              Name("/data/솔바네.fdb") + "\x7F\x01";
    TServerDatabases result;
    ASSERT_TRUE(fib::ParseServerDatabases(reply.data(), reply.size(), result));
    EXPECT_EQ(result.Attachments, 3);
    EXPECT_EQ(result.Databases, 2);
    EXPECT_EQ(result.Names, (std::vector<std::string>{"/var/tmp/a.fdb", "/data/솔바네.fdb"}));
}

TEST(ServerDatabases, NoDatabasesAndTrailingBufferBytes) {
    std::string reply = "\x32"s + Number(5, 0) + Number(6, 0) + "\x7F\x01";
    reply.append(100, '\0');
    TServerDatabases result;
    ASSERT_TRUE(fib::ParseServerDatabases(reply.data(), reply.size(), result));
    EXPECT_EQ(result.Attachments, 0);
    EXPECT_TRUE(result.Names.empty());
}

TEST(ServerDatabases, RefusesWhatItCannotBeSureOf) {
    TServerDatabases result;
    const std::vector<std::string> bad = {
        "",
        "\x43"s + Number(5, 0) + "\x7F\x01",              // another item
        "\x32"s + Number(5, 1) + "\x02",                  // truncated
        "\x32"s + Number(5, 1) + "\x01",                  // ended inside the block
        "\x32"s + Number(5, 1) + "\x6A\x10\x00/short",    // name past the reply
        "\x32\x05\x01\x00",                               // number past the reply
        "\x32"s + Number(5, 1) + Name("/a.fdb") + "\x09", // unknown item
        "\x32"s + Number(5, 1) + "\x7F",                  // no reply end
        "\x32"s + Number(5, 1) + "\x7F\x02",              // truncated after the block
    };
    for (const std::string& reply : bad) {
        EXPECT_FALSE(fib::ParseServerDatabases(reply.data(), reply.size(), result))
            << testing::PrintToString(reply);
    }
    EXPECT_FALSE(fib::ParseServerDatabases(nullptr, 10, result));
}

} // namespace
