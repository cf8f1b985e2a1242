// fbtracemon: prints what processes using the database layer trace, by
// registering as a monitor on the trace channel (see TraceReader.h for the
// reader's side of the handshake).

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "TraceReader.h"
#include "client/FIBSQLMonitor.h"

namespace {

std::atomic<bool> gStop{false};

extern "C" void OnSignal(int) {
    gStop.store(true);
}

const char* const HelpText =
    "Usage: fbtracemon [options]\n"
    "\n"
    "Registers as a monitor on the trace channel of the Solvane database layer and\n"
    "prints every message that processes using the layer trace, with its time\n"
    "stamp and category. Service events (attach, detach, query, start) are always\n"
    "traced while a monitor is registered; the other categories only when asked.\n"
    "\n"
    "Options:\n"
    "  --prefix TEXT        put TEXT before every shared object name (default: the\n"
    "                       SLV_TRACE_PREFIX environment variable, else nothing)\n"
    "  --categories LIST    comma-separated list of prepare, execute, fetch,\n"
    "                       connect, transaction, all or none (default: all)\n"
    "  --count N            exit after N messages\n"
    "  --timeout S          exit after S seconds (exit code 2 when --count was\n"
    "                       given and fewer messages arrived)\n"
    "  --remove             remove the shared objects from the system and exit\n"
    "  --help               show this text\n"
    "\n"
    "Shared objects (POSIX shared memory, /dev/shm): FIB.SQL.MONITOR.SharedMem (the\n"
    "2048-byte block), FIB.SQL.MONITOR.Mutex, and the manual-reset events\n"
    "FIB.SQL.MONITOR.WriteEvent, .WriteFinishedEvent, .ReadEvent, .ReadFinishedEvent.\n"
    "The channel is private to one account: each name ends in \".uid\" and the\n"
    "effective user id, and the objects have mode 0600. So fbtracemon hears only\n"
    "the processes of the account it runs as; run it as the user that runs the\n"
    "tool. A name held by anything else (another account's object, a link, a FIFO)\n"
    "is refused: then nothing is traced, and fbtracemon exits with code 1.\n"
    "\n"
    "Handshake, once per chunk of at most 2002 bytes. The writer holds the mutex\n"
    "for a whole message. The monitor:\n"
    "  registers under the mutex: MonitorCount += 1 (and the category flags);\n"
    "  A. waits until WriteFinishedEvent is set;\n"
    "  B. ReaderCount += 1; sets ReadEvent once ReaderCount reaches MonitorCount;\n"
    "  C. waits for WriteEvent (set by the writer after ReadEvent);\n"
    "  D. reads Category, TimeStamp, ChunkLength and the chunk text;\n"
    "  E. ReaderCount -= 1; when it reaches 0, resets ReadEvent and sets\n"
    "     ReadFinishedEvent; the writer then resets WriteEvent and sets\n"
    "     WriteFinishedEvent, and the monitor starts again at A;\n"
    "  on Ctrl-C (SIGINT or SIGTERM): MonitorCount -= 1, leaving a cycle it had\n"
    "  counted itself into, and exits with code 0.\n"
    "A writer waits one second per step for the monitors and counts one monitor\n"
    "(or reader) out for every second it waits; a monitor that finds itself counted\n"
    "out while idle registers again.\n"
    "\n"
    "Chunks carry no end marker: a message ends with a chunk shorter than 2002\n"
    "bytes, before a chunk of another message, or after a short pause. A message\n"
    "longer than 65536 bytes is cut. Control characters are printed as #$ and\n"
    "two hex digits (#$1B for ESC), never sent to the terminal.\n"
    "\n"
    "Exit codes: 0 success, 1 the channel cannot be opened, 2 timeout before\n"
    "--count messages, 64 usage error.\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "fbtracemon: %s\nTry 'fbtracemon --help'.\n", problem.c_str());
    return 64;
}

bool ParseCategories(const std::string& list, unsigned& flags) {
    flags = 0;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const std::string item =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item == "prepare") {
            flags |= fbtracemon::WantPrepare;
        } else if (item == "execute") {
            flags |= fbtracemon::WantExecute;
        } else if (item == "fetch") {
            flags |= fbtracemon::WantFetch;
        } else if (item == "connect") {
            flags |= fbtracemon::WantConnect;
        } else if (item == "transaction") {
            flags |= fbtracemon::WantTransaction;
        } else if (item == "all") {
            flags |= fbtracemon::WantAll;
        } else if (item != "none" && !item.empty()) {
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return true;
}

bool ParseNumber(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0;
}

void Print(const fbtracemon::TraceMessage& message) {
    std::fputs(fbtracemon::FormatMessage(message).c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    std::string prefix = fib::TraceObjectPrefix();
    unsigned flags = fbtracemon::WantAll;
    long count = 0;
    long timeoutSeconds = 0;
    bool remove = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(HelpText, stdout);
            return 0;
        } else if (arg == "--prefix" && hasValue) {
            prefix = argv[++i];
        } else if (arg == "--categories" && hasValue) {
            if (!ParseCategories(argv[++i], flags)) {
                return Usage("unknown category in '" + std::string(argv[i]) + "'");
            }
        } else if (arg == "--count" && hasValue) {
            if (!ParseNumber(argv[++i], count)) {
                return Usage("--count needs a number");
            }
        } else if (arg == "--timeout" && hasValue) {
            if (!ParseNumber(argv[++i], timeoutSeconds)) {
                return Usage("--timeout needs a number of seconds");
            }
        } else if (arg == "--remove") {
            remove = true;
        } else {
            return Usage("unknown or incomplete option '" + arg + "'");
        }
    }

    if (remove) {
        fib::TTraceChannel::RemoveObjects(prefix);
        return 0;
    }

#if defined(_WIN32)
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#else
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif

    std::unique_ptr<fib::TTraceChannel> channel;
    try {
        channel = std::make_unique<fib::TTraceChannel>(prefix);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fbtracemon: cannot open the trace channel: %s\n", e.what());
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    const bool limited = timeoutSeconds > 0;
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    long received = 0;
    int exitCode = 0;

    fbtracemon::TTraceReader reader(*channel);
    fbtracemon::TMessageAssembler assembler;
    reader.Register(flags);
    std::fprintf(stderr, "fbtracemon: listening%s%s\n", prefix.empty() ? "" : " with prefix ",
                 prefix.c_str());

    auto deliver = [&](const fbtracemon::TraceMessage& message) {
        Print(message);
        ++received;
        if (count > 0 && received >= count) {
            gStop.store(true);
        }
    };

    while (!gStop.load()) {
        if (limited && Clock::now() >= deadline) {
            if (count > 0 && received < count) {
                exitCode = 2;
            }
            break;
        }
        if (auto chunk = reader.ReadChunk(200, &gStop)) {
            for (const auto& message : assembler.Add(*chunk)) {
                deliver(message);
            }
        } else {
            if (auto message = assembler.FlushIfIdle(std::chrono::milliseconds(500))) {
                deliver(*message);
            }
            reader.ReRegisterIfCountedOut();
        }
    }
    if (auto message = assembler.Flush()) {
        Print(*message);
    }
    reader.Unregister();
    return exitCode;
}
