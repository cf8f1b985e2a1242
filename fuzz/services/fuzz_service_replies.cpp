// Reply bytes in: the line and running-state parsers must accept only
// replies that lie inside the buffer, and the line they hand back must be
// what the reply says. The reply sits in a buffer of exactly its size, so any
// read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "services/IB_Services.h"

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
    return 0;
}
