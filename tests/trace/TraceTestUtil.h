// Helpers shared by the trace tests: named components, an in-test monitor
// running the reader side on a thread, and the threads of this process.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TraceReader.h"
#include "client/FIBSQLMonitor.h"
#include "platform/NamedObjects.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/SharedObjects.h"

namespace tracetest {

// A component of that name, owned by nobody: what the hook names in its
// lines.
inline std::unique_ptr<rtl::TComponent> Component(const std::string& name) {
    auto component = std::make_unique<rtl::TComponent>();
    component->SetName(name);
    return component;
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
        return slvtest::WaitFor([&] { return Messages().size() >= count; }, limit);
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
