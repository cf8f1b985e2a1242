// Any lines fed to the transaction block builder: it either raises one of
// its own errors or returns a block whose length field matches its bytes.
#include <cstdlib>

#include "FuzzLines.h"
#include "client/FIBParams.h"
#include "client/fib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool lockTimeoutWithValue = (data[0] & 1) != 0;
    rtl::TStringList lines;
    if (size > 1) {
        lines.Assign(fuzzlines::Split(data + 1, size - 1));
    }
    std::string block;
    uint16_t length = 0;
    try {
        fib::BuildTransactionParamBlock(lines, block, length, lockTimeoutWithValue);
    } catch (const fib::EFIBClientError&) {
        return 0;
    }
    if (block.size() != length || block.size() > 0xFFFF) {
        abort();
    }
    if (lines.Count() > 0 && (block.empty() || block[0] != 3)) {
        abort();
    }
    // The shutdown words come from lines too.
    try {
        (void)fib::ShutdownModeFromText(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const rtl::EConvertError&) {
    }
    return 0;
}
