// Reply bytes in: the line, bulk output, running-state and server-databases
// parsers must accept only replies that lie inside the buffer, and the line
// they hand back must be what the reply says. The reply sits in a buffer of
// exactly its size, so any read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <algorithm>

#include "services/IB_Services.h"
#include "services/ServerDatabases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte cuts the buffer short of the reply sometimes, as a
    // smaller reply buffer would.
    const size_t cut = data[0] % 8;
    ++data;
    --size;
    const size_t bufferSize = cut < size && (data[0] & 1) != 0 ? size - cut : size;

    std::unique_ptr<char[]> buffer(new char[bufferSize == 0 ? 1 : bufferSize]);
    if (bufferSize > 0) {
        std::memcpy(buffer.get(), data, bufferSize);
    }
    const char* reply = bufferSize == 0 ? nullptr : buffer.get();

    const fib::TLineReply line = fib::ParseLineReply(reply, bufferSize);
    switch (line.Status) {
    case fib::TReplyStatus::Ok: {
        const size_t length = static_cast<size_t>(static_cast<uint8_t>(reply[1])) |
                              (static_cast<size_t>(static_cast<uint8_t>(reply[2])) << 8);
        if (line.TextOffset != 3 || length == 0 || line.TextLength > length ||
            3 + length >= bufferSize || reply[3 + length] != 0x01 ||
            std::memchr(reply + 3, 0, line.TextLength) != nullptr ||
            (line.TextLength < length && reply[3 + line.TextLength] != '\0')) {
            std::abort();
        }
        // The component writes a zero over the end marker.
        buffer[3 + length] = '\0';
        break;
    }
    case fib::TReplyStatus::EndOfOutput:
        if (bufferSize < 4 || reply[1] != 0 || reply[2] != 0 || reply[3] != 0x01) {
            std::abort();
        }
        break;
    case fib::TReplyStatus::Unexpected:
        break;
    }

    // The bulk reply: an accepted one lies inside the buffer, with its end
    // marker after the text; its text cut into lines keeps the carry within
    // its bound and hands out lines without line ends or zero bytes.
    const fib::TOutputReply output = fib::ParseOutputReply(reply, bufferSize);
    if (output.Status != fib::TReplyStatus::Unexpected) {
        if (reply[0] != 0x3F || output.TextOffset != 3 ||
            output.TextOffset + output.TextLength >= bufferSize ||
            std::memchr(reply + 3 + output.TextLength, 0x01, bufferSize - 3 - output.TextLength) ==
                nullptr ||
            (output.Status == fib::TReplyStatus::EndOfOutput &&
             (output.TextLength != 0 || reply[3] != 0x01))) {
            std::abort();
        }
        const size_t longest = 1 + cut * 3;
        std::string carry(cut, 'c');
        std::vector<std::string> lines;
        const size_t added = fib::SplitOutputLines(
            carry, std::string_view(reply + 3, output.TextLength), longest, lines);
        if (added != lines.size() || carry.size() >= std::max<size_t>(longest, cut + 1)) {
            std::abort();
        }
        for (const std::string& l : lines) {
            if (l.find('\n') != std::string::npos || l.find('\0') != std::string::npos ||
                l.size() > longest + 1) {
                std::abort();
            }
        }
    }

    const fib::TRunningReply running = fib::ParseRunningReply(reply, bufferSize);
    if (running.Status == fib::TReplyStatus::Ok) {
        if (bufferSize < 5 || reply[0] != 0x43) {
            std::abort();
        }
        const bool one = reply[1] == 1 && reply[2] == 0 && reply[3] == 0 && reply[4] == 0;
        if (running.Running != one) {
            std::abort();
        }
    } else if (running.Status == fib::TReplyStatus::EndOfOutput) {
        std::abort();
    }

    // The server's databases in use: an accepted reply starts with its item
    // and holds every name it handed out (item and 16-bit length each), the
    // block's end flag and the reply's end.
    fib::TServerDatabases databases;
    if (fib::ParseServerDatabases(reply, bufferSize, databases)) {
        size_t used = 3;
        for (const std::string& name : databases.Names) {
            used += 3 + name.size();
        }
        if (reply[0] != 0x32 || used > bufferSize) {
            std::abort();
        }
    }
    return 0;
}
