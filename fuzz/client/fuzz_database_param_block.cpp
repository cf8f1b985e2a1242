// Any lines fed to the database block builder: it either raises one of its
// own errors or returns a block whose length field matches its bytes.
#include <cstdlib>

#include "FuzzLines.h"
#include "client/FIBParams.h"
#include "client/fib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the server kind.
    const bool isFirebird = (data[0] & 1) != 0;
    rtl::TStringList lines;
    lines.Assign(fuzzlines::Split(data + 1, size - 1));
    std::string block;
    uint16_t length = 0;
    try {
        fib::BuildDatabaseParamBlock(lines, block, length, isFirebird);
    } catch (const fib::EFIBClientError&) {
        return 0;
    } catch (const rtl::EConvertError&) {
        return 0;
    }
    if (block.empty() || block[0] != 1 || block.size() != length || block.size() > 0xFFFF) {
        abort();
    }
    for (int i = 0; i < lines.Count(); ++i) {
        if (lines[i] != rtl::Trim(lines[i])) {
            abort();
        }
    }
    return 0;
}
