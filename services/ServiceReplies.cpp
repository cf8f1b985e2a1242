// Parsing of the service manager's line and running-state replies. Kept free
// of any client-library call so it can be exercised on arbitrary bytes.
#include "services/IB_Services.h"

#include <algorithm>
#include <string_view>

#include "client/ParamBlock.h"

namespace fib {

namespace {

constexpr uint8_t InfoSvcLine = 0x3E;      // isc_info_svc_line
constexpr uint8_t InfoSvcToEof = 0x3F;     // isc_info_svc_to_eof
constexpr uint8_t InfoSvcRunning = 0x43;   // isc_info_svc_running
constexpr uint8_t InfoSvcTimeout = 0x40;   // isc_info_svc_timeout
constexpr uint8_t InfoEnd = 0x01;          // isc_info_end
constexpr uint8_t InfoTruncated = 0x02;    // isc_info_truncated
constexpr uint8_t InfoDataNotReady = 0x04; // isc_info_data_not_ready

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

TOutputReply ParseOutputReply(const char* reply, size_t replySize) noexcept {
    TOutputReply result;
    TBlockReader reader(reply, replySize);
    uint8_t item = 0;
    std::string_view text;
    if (!reader.Byte(item) || item != InfoSvcToEof || !reader.Text16(text)) {
        return result;
    }
    // The marks up to the end marker, which must lie inside the buffer as it
    // does in every reply the server finished.
    bool more = false;
    for (;;) {
        uint8_t mark = 0;
        if (!reader.Byte(mark)) {
            return result;
        }
        if (mark == InfoEnd) {
            break;
        }
        if (mark != InfoTruncated && mark != InfoSvcTimeout && mark != InfoDataNotReady) {
            return result;
        }
        more = true;
    }
    result.TextOffset = 3;
    result.TextLength = text.size();
    result.Status = text.empty() && !more ? TReplyStatus::EndOfOutput : TReplyStatus::Ok;
    return result;
}

size_t SplitOutputLines(std::string& carry, std::string_view output, size_t longestLine,
                        std::vector<std::string>& lines) {
    const size_t before = lines.size();
    const size_t longest = std::max<size_t>(longestLine, 1);
    const auto emit = [&lines, &carry] {
        lines.emplace_back(carry.substr(0, carry.find('\0')));
        carry.clear();
    };
    while (!output.empty()) {
        const size_t room = longest - carry.size();
        const size_t end = output.find('\n');
        if (end != std::string_view::npos && end < room) {
            // The line end becomes the blank the line query leaves in its
            // place.
            carry.append(output.substr(0, end));
            carry.push_back(' ');
            emit();
            output.remove_prefix(end + 1);
        } else if (output.size() < room) {
            carry.append(output);
            break;
        } else {
            carry.append(output.substr(0, room));
            emit();
            output.remove_prefix(room);
        }
    }
    return lines.size() - before;
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
