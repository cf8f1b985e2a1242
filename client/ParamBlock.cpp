#include "client/ParamBlock.h"

namespace fib {

namespace {

bool AppendText(std::string& block, uint8_t code, std::string_view text, size_t lengthBytes) {
    const size_t limit = lengthBytes == 1 ? MaxText8Length : MaxText16Length;
    if (text.size() > limit) {
        return false;
    }
    TBlockWriter writer(block);
    writer.Byte(code);
    if (lengthBytes == 1) {
        writer.Byte(static_cast<int32_t>(text.size()));
    } else {
        writer.Number16(static_cast<uint32_t>(text.size()));
    }
    block.append(text);
    return true;
}

} // namespace

TBlockWriter& TBlockWriter::Byte(int32_t value) {
    FBlock.push_back(static_cast<char>(static_cast<unsigned char>(value & 0xFF)));
    return *this;
}

TBlockWriter& TBlockWriter::Number16(uint32_t value) {
    return Byte(static_cast<int32_t>(value & 0xFF)).Byte(static_cast<int32_t>((value >> 8) & 0xFF));
}

TBlockWriter& TBlockWriter::Number32(uint32_t value) {
    return Number16(value & 0xFFFF).Number16(value >> 16);
}

bool TBlockWriter::Text8(uint8_t code, std::string_view text) {
    return AppendText(FBlock, code, text, 1);
}

bool TBlockWriter::Text16(uint8_t code, std::string_view text) {
    return AppendText(FBlock, code, text, 2);
}

bool TBlockReader::Number(size_t count, uint32_t& value) noexcept {
    if (Remaining() < count) {
        return false;
    }
    uint32_t number = 0;
    for (size_t i = count; i > 0; --i) {
        number = (number << 8) | static_cast<unsigned char>(FData[FPosition + i - 1]);
    }
    value = number;
    FPosition += count;
    return true;
}

bool TBlockReader::Byte(uint8_t& value) noexcept {
    uint32_t number = 0;
    if (!Number(1, number)) {
        return false;
    }
    value = static_cast<uint8_t>(number);
    return true;
}

bool TBlockReader::Bytes(size_t count, std::string_view& bytes) noexcept {
    if (Remaining() < count) {
        return false;
    }
    bytes = std::string_view(FData + FPosition, count);
    FPosition += count;
    return true;
}

bool TBlockReader::Text16(std::string_view& text) noexcept {
    const size_t start = FPosition;
    uint32_t length = 0;
    if (!Number16(length) || !Bytes(length, text)) {
        FPosition = start;
        return false;
    }
    return true;
}

} // namespace fib
