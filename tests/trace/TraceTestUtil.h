// Helpers shared by the trace tests: object names of their own, an in-test
// monitor running the reader side on a thread, and bounded waiting.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TraceReader.h"
#include "client/FIBSQLMonitor.h"
#include "platform/NamedObjects.h"

namespace tracetest {

// A prefix no other process uses; the objects under it are removed when the
// guard ends.
class UniquePrefix {
public:
    UniquePrefix() {
        static std::atomic<int> counter{0};
        FPrefix = "slvtest." + std::to_string(getpid()) + "." + std::to_string(counter++) + ".";
        fib::TTraceChannel::RemoveObjects(FPrefix);
    }
    ~UniquePrefix() {
        // Every object a test put under the prefix, not only the channel's.
        fib::TTraceChannel::RemoveObjects(FPrefix);
        if (auto* dir = opendir("/dev/shm")) {
            std::vector<std::string> names;
            while (auto* entry = readdir(dir)) {
                if (std::string(entry->d_name).rfind(FPrefix, 0) == 0) {
                    names.emplace_back(entry->d_name);
                }
            }
            closedir(dir);
            for (const auto& name : names) {
                platform::RemoveNamedObject(name);
            }
        }
    }
    UniquePrefix(const UniquePrefix&) = delete;
    UniquePrefix& operator=(const UniquePrefix&) = delete;
    const std::string& str() const { return FPrefix; }
    std::string Name(const char* objectName) const { return FPrefix + objectName; }

private:
    std::string FPrefix;
};

// Polls until the condition holds or the limit passes.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A monitor inside the test process: its own mapping of the channel, a
// registered reader on a thread, and everything it read.
class InTestMonitor {
public:
    explicit InTestMonitor(const std::string& prefix, unsigned flags = fbtracemon::WantAll)
        : FChannel(prefix), FReader(FChannel) {
        FReader.Register(flags);
        FThread = std::thread([this] { Run(); });
    }
    ~InTestMonitor() { Stop(); }
    InTestMonitor(const InTestMonitor&) = delete;
    InTestMonitor& operator=(const InTestMonitor&) = delete;

    void Stop() {
        FStop.store(true);
        if (FThread.joinable()) {
            FThread.join();
        }
        FReader.Unregister();
    }

    std::vector<fbtracemon::TraceChunk> Chunks() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FChunks;
    }
    std::vector<fbtracemon::TraceMessage> Messages() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FMessages;
    }
    bool WaitForMessages(size_t count,
                         std::chrono::milliseconds limit = std::chrono::seconds(15)) const {
        return WaitUntil([&] { return Messages().size() >= count; }, limit);
    }
    fib::TTraceChannel& Channel() { return FChannel; }

private:
    void Run() {
        while (!FStop.load()) {
            if (auto chunk = FReader.ReadChunk(50, &FStop)) {
                std::lock_guard<std::mutex> lock(FLock);
                FChunks.push_back(*chunk);
                for (auto& message : FAssembler.Add(*chunk)) {
                    FMessages.push_back(std::move(message));
                }
            } else if (auto message = FAssembler.FlushIfIdle(std::chrono::milliseconds(300))) {
                std::lock_guard<std::mutex> lock(FLock);
                FMessages.push_back(std::move(*message));
            }
        }
    }

    fib::TTraceChannel FChannel;
    fbtracemon::TTraceReader FReader;
    fbtracemon::TMessageAssembler FAssembler;
    std::atomic<bool> FStop{false};
    mutable std::mutex FLock;
    std::vector<fbtracemon::TraceChunk> FChunks;
    std::vector<fbtracemon::TraceMessage> FMessages;
    std::thread FThread;
};

// The threads of this process.
inline int ThreadCount() {
    int count = 0;
    if (auto* dir = opendir("/proc/self/task")) {
        while (auto* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        closedir(dir);
    }
    return count;
}

} // namespace tracetest
