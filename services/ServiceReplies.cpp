// Parsing of the service manager's line and running-state replies. Kept free
// of any client-library call so it can be exercised on arbitrary bytes.
#include "services/IB_Services.h"

#include <algorithm>

#include "client/ParamBlock.h"

namespace fib {

namespace {

constexpr uint8_t InfoSvcLine = 0x3E;    // isc_info_svc_line
constexpr uint8_t InfoSvcRunning = 0x43; // isc_info_svc_running
constexpr uint8_t InfoEnd = 0x01;        // isc_info_end

} // namespace

TLineReply ParseLineReply(const char* reply, size_t replySize) noexcept {
    TLineReply result;
    // The item, the 16-bit length, the line and the end marker must all lie
    // inside the buffer; a line that did not fit ends with
    // isc_info_truncated instead and is refused here too.
    TBlockReader reader(reply, replySize);
    uint8_t item = 0;
    std::string_view line;
    uint8_t marker = 0;
    if (!reader.Byte(item) || item != InfoSvcLine || !reader.Text16(line)) {
        return result;
    }
    const size_t end = reader.Position();
    if (!reader.Byte(marker) || marker != InfoEnd) {
        return result;
    }
    result.EndOffset = end;
    if (line.empty()) {
        result.Status = TReplyStatus::EndOfOutput;
        return result;
    }
    // The line ends at its first zero byte, if it holds one.
    result.Status = TReplyStatus::Ok;
    result.TextOffset = 3;
    result.TextLength = std::min(line.find('\0'), line.size());
    return result;
}

TRunningReply ParseRunningReply(const char* reply, size_t replySize) noexcept {
    TRunningReply result;
    TBlockReader reader(reply, replySize);
    uint8_t item = 0;
    uint32_t value = 0;
    if (!reader.Byte(item) || item != InfoSvcRunning || !reader.Number32(value)) {
        return result;
    }
    result.Status = TReplyStatus::Ok;
    result.Running = value == 1;
    return result;
}

} // namespace fib
