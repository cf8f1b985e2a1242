// Parameter blocks and reply buffers of the client library: byte strings of
// one-byte codes, each followed by its value. Multi-byte numbers travel least
// significant byte first; a text travels behind its length in one or two
// bytes. TBlockWriter is the one place that packs them, TBlockReader the one
// place that unpacks them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fib {

// Longest text behind a one-byte and behind a two-byte length.
inline constexpr size_t MaxText8Length = 0xFF;
inline constexpr size_t MaxText16Length = 0xFFFF;
// Longest block a client call takes: its length travels as an unsigned
// 16-bit number.
inline constexpr size_t MaxBlockLength = 0xFFFF;

// Appends to a block held by the caller.
class TBlockWriter {
public:
    explicit TBlockWriter(std::string& block) noexcept : FBlock(block) {}

    // The low 8 bits of the value.
    TBlockWriter& Byte(int32_t value);
    // The low 16 or the 32 bits of the value, least significant byte first.
    TBlockWriter& Number16(uint32_t value);
    TBlockWriter& Number32(uint32_t value);
    // The code, the text's length in one (Text8) or two (Text16) bytes, then
    // the text. A text that does not fit its length is refused: false, and
    // nothing is appended.
    [[nodiscard]] bool Text8(uint8_t code, std::string_view text);
    [[nodiscard]] bool Text16(uint8_t code, std::string_view text);

    // The block fits a client call's 16-bit length.
    bool Fits() const noexcept { return FBlock.size() <= MaxBlockLength; }

private:
    std::string& FBlock;
};

// Reads a reply or a block front to back without ever reading past its end:
// a read that would do so fails (false) and leaves the position as it was.
class TBlockReader {
public:
    TBlockReader(const char* data, size_t size) noexcept
        : FData(data), FSize(data == nullptr ? 0 : size) {}

    size_t Position() const noexcept { return FPosition; }
    size_t Remaining() const noexcept { return FSize - FPosition; }

    [[nodiscard]] bool Byte(uint8_t& value) noexcept;
    [[nodiscard]] bool Number16(uint32_t& value) noexcept { return Number(2, value); }
    [[nodiscard]] bool Number32(uint32_t& value) noexcept { return Number(4, value); }
    // The next `count` bytes, as a view into the data.
    [[nodiscard]] bool Bytes(size_t count, std::string_view& bytes) noexcept;
    // A text behind its two-byte length.
    [[nodiscard]] bool Text16(std::string_view& text) noexcept;

private:
    // A number of `count` bytes (at most 4), least significant first.
    [[nodiscard]] bool Number(size_t count, uint32_t& value) noexcept;

    const char* FData;
    size_t FSize;
    size_t FPosition = 0;
};

} // namespace fib
