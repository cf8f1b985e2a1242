// Parsing of the service manager's line and running-state replies. Kept free
// of any client-library call so it can be exercised on arbitrary bytes.
#include "services/IB_Services.h"

namespace fib {

namespace {

constexpr unsigned char InfoSvcLine = 0x3E;    // isc_info_svc_line
constexpr unsigned char InfoSvcRunning = 0x43; // isc_info_svc_running
constexpr unsigned char InfoEnd = 0x01;        // isc_info_end

unsigned char At(const char* reply, size_t index) noexcept {
    return static_cast<unsigned char>(reply[index]);
}

} // namespace

TLineReply ParseLineReply(const char* reply, size_t replySize) noexcept {
    TLineReply result;
    // Item byte and the two length bytes must be there before the length
    // can be read.
    if (reply == nullptr || replySize < 3 || At(reply, 0) != InfoSvcLine) {
        return result;
    }
    const size_t length =
        static_cast<size_t>(At(reply, 1)) | (static_cast<size_t>(At(reply, 2)) << 8);
    // The end marker must lie inside the buffer; a line that did not fit ends
    // with isc_info_truncated instead and is refused here too.
    const size_t marker = 3 + length;
    if (marker >= replySize || At(reply, marker) != InfoEnd) {
        return result;
    }
    if (length == 0) {
        result.Status = TReplyStatus::EndOfOutput;
        return result;
    }
    // The line ends at its first zero byte, if it holds one.
    size_t textLength = 0;
    while (textLength < length && reply[3 + textLength] != '\0') {
        ++textLength;
    }
    result.Status = TReplyStatus::Ok;
    result.TextOffset = 3;
    result.TextLength = textLength;
    return result;
}

TRunningReply ParseRunningReply(const char* reply, size_t replySize) noexcept {
    TRunningReply result;
    if (reply == nullptr || replySize < 5 || At(reply, 0) != InfoSvcRunning) {
        return result;
    }
    const uint32_t value =
        static_cast<uint32_t>(At(reply, 1)) | (static_cast<uint32_t>(At(reply, 2)) << 8) |
        (static_cast<uint32_t>(At(reply, 3)) << 16) | (static_cast<uint32_t>(At(reply, 4)) << 24);
    result.Status = TReplyStatus::Ok;
    result.Running = value == 1;
    return result;
}

} // namespace fib
