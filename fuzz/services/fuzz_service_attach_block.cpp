// Params lines in (one per input line): the attach block is either refused
// with the database layer's own errors, or well formed: 02 02, then items
// whose lengths match their bytes and add up to the whole block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/fib.h"
#include "services/IB_Services.h"

namespace {

void CheckBlock(const std::string& block) {
    if (block.size() < 2 || block[0] != 2 || block[1] != 2 || block.size() > 0xFFFF) {
        std::abort();
    }
    size_t at = 2;
    while (at < block.size()) {
        const uint8_t code = static_cast<uint8_t>(block[at]);
        if (at + 1 >= block.size()) {
            std::abort();
        }
        const size_t length = static_cast<uint8_t>(block[at + 1]);
        switch (code) {
        case isc_spb_user_name:
        case isc_spb_password:
        case isc_spb_command_line:
        case isc_spb_sql_role_name:
            break;
        case isc_spb_connect_timeout:
        case isc_spb_dummy_packet_interval:
            if (length != 4) {
                std::abort();
            }
            break;
        default:
            std::abort();
        }
        at += 2 + length;
    }
    if (at != block.size()) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rtl::TStringList params;
    std::string line;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            params.Add(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(data[i]));
        }
    }
    if (!line.empty()) {
        params.Add(line);
    }
    try {
        CheckBlock(fib::BuildServiceAttachBlock(params));
    } catch (const fib::EFIBClientError&) {
    } catch (const rtl::EConvertError&) {
    }
    return 0;
}
