// Any format text with any arguments: the message formatting never reads
// past its input and never raises.
#include "FuzzLines.h"
#include "client/fib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // First line: the format; the others: arguments, texts or (when they
    // start with '#') numbers.
    const auto lines = fuzzlines::Split(data, size);
    std::vector<fib::FmtArg> args;
    for (size_t i = 1; i < lines.size() && args.size() < 4; ++i) {
        if (!lines[i].empty() && lines[i][0] == '#') {
            uint64_t bits = 0;
            for (char c : lines[i]) {
                bits = bits * 31 + static_cast<unsigned char>(c);
            }
            args.emplace_back(static_cast<long long>(bits));
        } else {
            args.emplace_back(lines[i]);
        }
    }
    while (args.size() < 4) {
        args.emplace_back(std::string());
    }
    (void)fib::FormatMessage(lines[0], {args[0], args[1], args[2], args[3]});
    // The table messages with the same arguments.
    const int code = size > 0 ? data[0] % fib::ClientErrorCount : 0;
    try {
        fib::RaiseClientError(static_cast<fib::ClientError>(code), {args[0], args[1], args[2]});
    } catch (const fib::EFIBClientError&) {
    }
    return 0;
}
