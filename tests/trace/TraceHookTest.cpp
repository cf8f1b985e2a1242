#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "TraceTestUtil.h"
#include "client/fib.h"
#include "platform/NamedObjects.h"

using fib::SharedLoad;
using fib::SharedStore;
using fib::TFIBSQLMonitorHook;
using fib::TraceBlock;
using fib::TTraceChannel;
using slvtest::MakeForeignObject;
using slvtest::UniquePrefix;
using slvtest::WaitFor;
using tracetest::Component;
using tracetest::InTestMonitor;

namespace {

std::string Header() {
    return "\r\n[Application: " + fib::ApplicationFileName() + "]\r\n";
}

std::vector<std::string> Texts(const std::vector<fbtracemon::TraceMessage>& messages) {
    std::vector<std::string> texts;
    for (const auto& m : messages) {
        texts.push_back(m.Text);
    }
    return texts;
}

// Waits until no write cycle is in progress and no writer holds the mutex.
bool WaitForIdleChannel(TTraceChannel& channel) {
    return WaitFor([&] {
        if (!channel.WriteFinishedEvent().IsSet()) {
            return false;
        }
        bool free = false;
        std::thread([&] {
            free = channel.Mutex().Lock(0) != platform::NamedMutex::LockResult::Timeout;
            if (free) {
                EXPECT_TRUE(channel.Mutex().Unlock());
            }
        }).join();
        return free;
    });
}

} // namespace

// ---------------------------------------------------------------------------
// The channel

TEST(TraceChannel, CreatorStartsWithZeroedFieldsAndTheEventStates) {
    UniquePrefix prefix;
    TTraceChannel channel(prefix.str());
    EXPECT_TRUE(channel.Created());
    const TraceBlock& b = channel.Block();
    EXPECT_EQ(SharedLoad(b.MonitorCount), 0);
    EXPECT_EQ(SharedLoad(b.ReaderCount), 0);
    EXPECT_EQ(SharedLoad(b.ChunkLength), 0);
    EXPECT_EQ(SharedLoad(b.TransactionFlag), 0);
    EXPECT_EQ(SharedLoad(b.ConnectFlag), 0);
    EXPECT_EQ(SharedLoad(b.FetchFlag), 0);
    EXPECT_EQ(SharedLoad(b.ExecuteFlag), 0);
    EXPECT_EQ(SharedLoad(b.PrepareFlag), 0);
    EXPECT_FALSE(channel.WriteEvent().IsSet());
    EXPECT_TRUE(channel.WriteFinishedEvent().IsSet());
    EXPECT_FALSE(channel.ReadEvent().IsSet());
    EXPECT_FALSE(channel.ReadFinishedEvent().IsSet());

    for (const char* name : {fib::MutexObjectName, fib::SharedMemObjectName,
                             fib::WriteEventObjectName, fib::WriteFinishedEventObjectName,
                             fib::ReadEventObjectName, fib::ReadFinishedEventObjectName}) {
        EXPECT_EQ(access(slvtest::ObjectFile(prefix.Name(name)).c_str(), F_OK), 0) << name;
    }
}

TEST(TraceChannel, SecondOpenerKeepsCountsAndFlags) {
    UniquePrefix prefix;
    TTraceChannel first(prefix.str());
    TraceBlock& b = first.Block();
    SharedStore(b.MonitorCount, 2);
    SharedStore(b.ReaderCount, 1);
    SharedStore(b.ChunkLength, 7);
    SharedStore(b.TransactionFlag, 1);
    SharedStore(b.ConnectFlag, 2);
    SharedStore(b.FetchFlag, 3);
    SharedStore(b.ExecuteFlag, 4);
    SharedStore(b.PrepareFlag, 5);
    first.ReadEvent().Set();

    TTraceChannel second(prefix.str());
    EXPECT_FALSE(second.Created());
    const TraceBlock& c = second.Block();
    EXPECT_EQ(SharedLoad(c.MonitorCount), 2);
    EXPECT_EQ(SharedLoad(c.ReaderCount), 1);
    EXPECT_EQ(SharedLoad(c.ChunkLength), 7);
    EXPECT_EQ(SharedLoad(c.TransactionFlag), 1);
    EXPECT_EQ(SharedLoad(c.ConnectFlag), 2);
    EXPECT_EQ(SharedLoad(c.FetchFlag), 3);
    EXPECT_EQ(SharedLoad(c.ExecuteFlag), 4);
    EXPECT_EQ(SharedLoad(c.PrepareFlag), 5);
    EXPECT_TRUE(second.ReadEvent().IsSet()) << "the events are the same objects";
}

TEST(TraceChannel, NegativeCountsAreRaisedToZero) {
    UniquePrefix prefix;
    TTraceChannel first(prefix.str());
    SharedStore(first.Block().MonitorCount, -2);
    SharedStore(first.Block().ReaderCount, -5);
    TTraceChannel second(prefix.str());
    EXPECT_EQ(SharedLoad(second.Block().MonitorCount), 0);
    EXPECT_EQ(SharedLoad(second.Block().ReaderCount), 0);
}

TEST(TraceChannel, ForeignObjectUnderTheBlockNameRaisesClientError54) {
    UniquePrefix prefix;
    MakeForeignObject(prefix.Name(fib::SharedMemObjectName), 100);
    try {
        TTraceChannel channel(prefix.str());
        FAIL() << "the channel opened over a foreign object";
    } catch (const fib::EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), fib::ceCannotCreateSharedResource);
        EXPECT_EQ(e.Message(),
                  "Cannot create shared resource. (Windows error " + std::to_string(EEXIST) + ")");
    }
}

TEST(TraceChannel, ForeignObjectUnderAnEventNameRaisesClientError54) {
    UniquePrefix prefix;
    MakeForeignObject(prefix.Name(fib::ReadEventObjectName), 100);
    EXPECT_THROW(TTraceChannel channel(prefix.str()), fib::EFIBClientError);
}

TEST(TraceChannel, BlockLayoutHasTheFixedOffsets) {
    EXPECT_EQ(sizeof(TraceBlock), 2048u);
    EXPECT_EQ(offsetof(TraceBlock, ChunkFlag), 2003u);
    EXPECT_EQ(offsetof(TraceBlock, TimeStamp), 2004u);
    EXPECT_EQ(offsetof(TraceBlock, TransactionFlag), 2012u);
    EXPECT_EQ(offsetof(TraceBlock, ConnectFlag), 2016u);
    EXPECT_EQ(offsetof(TraceBlock, FetchFlag), 2020u);
    EXPECT_EQ(offsetof(TraceBlock, ExecuteFlag), 2024u);
    EXPECT_EQ(offsetof(TraceBlock, PrepareFlag), 2028u);
    EXPECT_EQ(offsetof(TraceBlock, ChunkLength), 2032u);
    EXPECT_EQ(offsetof(TraceBlock, Category), 2036u);
    EXPECT_EQ(offsetof(TraceBlock, ReaderCount), 2040u);
    EXPECT_EQ(offsetof(TraceBlock, MonitorCount), 2044u);
}

// ---------------------------------------------------------------------------
// Texts

TEST(TraceText, ControlBytesAreEscapedExceptTabAndLineBreaks) {
    const std::string withZero("a\x01"
                               "b\x1B"
                               "c\td\r\ne\x00"
                               "f\x1F\x7F\xC8",
                               15);
    EXPECT_EQ(fib::EscapeTraceText(withZero), "a#$01b#$1Bc\td\r\ne#$00f#$1F\x7F\xC8");
    EXPECT_EQ(fib::EscapeTraceText("\x0A\x09\x0D"), "\n\t\r");
    EXPECT_EQ(fib::EscapeTraceText(""), "");
}

TEST(TraceText, TextIsCutInto2002ByteChunks) {
    const auto chunks = fib::SplitTraceChunks(std::string(4500, 'x'));
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].size(), 2002u);
    EXPECT_EQ(chunks[1].size(), 2002u);
    EXPECT_EQ(chunks[2].size(), 496u);
    EXPECT_EQ(fib::SplitTraceChunks(std::string(2002, 'x')).size(), 1u);
    EXPECT_EQ(fib::SplitTraceChunks(std::string(2003, 'x')).size(), 2u);
}

TEST(TraceText, TimeStampCountsLocalDaysFrom1899) {
    EXPECT_EQ(fbtracemon::FormatTimeStamp(0.0), "1899-12-30 00:00:00.000");
    EXPECT_EQ(fbtracemon::FormatTimeStamp(45000.5), "2023-03-15 12:00:00.000");
    EXPECT_EQ(fbtracemon::FormatTimeStamp(2.25), "1900-01-01 06:00:00.000");

    char before[16];
    char after[16];
    time_t t = time(nullptr);
    tm local{};
    strftime(before, sizeof before, "%Y-%m-%d", localtime_r(&t, &local));
    const std::string stamped = fbtracemon::FormatTimeStamp(fib::TraceTimeStampNow());
    t = time(nullptr);
    strftime(after, sizeof after, "%Y-%m-%d", localtime_r(&t, &local));
    const std::string date = stamped.substr(0, 10);
    EXPECT_TRUE(date == before || date == after) << stamped;
}

TEST(TraceText, ApplicationNameIsTheExecutableFileName) {
    EXPECT_EQ(fib::ApplicationFileName(), "trace_tests");
}

// ---------------------------------------------------------------------------
// The hook

TEST(TraceHook, ForeignObjectTurnsTracingOffWithoutRaising) {
    UniquePrefix prefix;
    MakeForeignObject(prefix.Name(fib::SharedMemObjectName), 100);
    TFIBSQLMonitorHook hook(prefix.str());
    EXPECT_FALSE(hook.TracingActive());
    EXPECT_FALSE(hook.SharedObjectsReady());
    EXPECT_EQ(hook.MonitorCount(), 0);
    auto service = Component("pFIBBackupService1");
    EXPECT_NO_THROW(hook.TraceServiceAttach(service.get()));
    EXPECT_NO_THROW(hook.TraceServiceQuery(service.get()));
    EXPECT_NO_THROW(hook.TraceServiceStart(service.get()));
    EXPECT_NO_THROW(hook.TraceServiceDetach(service.get()));
    EXPECT_NO_THROW(hook.WriteTrace("text", fib::tcService));
    EXPECT_NO_THROW(hook.TraceConnect(service.get()));
    EXPECT_FALSE(hook.WriterRunning());
    EXPECT_FALSE(hook.TracingActive()) << "stays off";
}

TEST(TraceHook, WithoutAMonitorNothingIsWrittenAndNoThreadRuns) {
    UniquePrefix prefix;
    const int threadsBefore = tracetest::ThreadCount();
    TFIBSQLMonitorHook hook(prefix.str());
    ASSERT_TRUE(hook.TracingActive());
    ASSERT_TRUE(hook.SharedObjectsReady());
    auto service = Component("pFIBBackupService1");
    for (int i = 0; i < 10; ++i) {
        hook.TraceServiceAttach(service.get());
        hook.TraceServiceStart(service.get());
        hook.TraceServiceQuery(service.get());
        hook.TraceServiceDetach(service.get());
    }
    EXPECT_FALSE(hook.WriterRunning());
    EXPECT_EQ(tracetest::ThreadCount(), threadsBefore);
    const TraceBlock& b = hook.Channel()->Block();
    EXPECT_EQ(SharedLoad(b.ChunkLength), 0);
    EXPECT_EQ(b.ChunkFlag, 0);
    EXPECT_FALSE(hook.Channel()->WriteEvent().IsSet());
}

TEST(TraceHook, ServiceEventsReachARegisteredMonitor) {
    UniquePrefix prefix;
    InTestMonitor monitor(prefix.str());
    TFIBSQLMonitorHook hook(prefix.str());
    ASSERT_EQ(hook.MonitorCount(), 1);
    auto named = Component("pFIBBackupService1");
    auto unnamed = Component("");
    hook.TraceServiceAttach(named.get());
    hook.TraceServiceStart(named.get());
    hook.TraceServiceQuery(named.get());
    hook.TraceServiceDetach(named.get());
    hook.TraceServiceAttach(unnamed.get());
    hook.TraceServiceStart(unnamed.get());
    EXPECT_TRUE(hook.WriterRunning());

    ASSERT_TRUE(monitor.WaitForMessages(6));
    const auto messages = monitor.Messages();
    const std::vector<std::string> expected = {
        Header() + "pFIBBackupService1: [Attach]",
        Header() + "pFIBBackupService1: [Start]",
        Header() + "pFIBBackupService1: [Query]",
        Header() + "pFIBBackupService1: [Detach]",
        Header() + ": [Attach]",
        Header() + ": [Start]",
    };
    EXPECT_EQ(Texts(messages), expected);
    for (const auto& m : messages) {
        EXPECT_EQ(m.Category, fib::tcService);
    }
    for (const auto& c : monitor.Chunks()) {
        EXPECT_EQ(c.ChunkFlag, 1);
    }
}

TEST(TraceHook, MessageOf4500EscapedBytesIsWrittenInThreeChunks) {
    UniquePrefix prefix;
    InTestMonitor monitor(prefix.str());
    TFIBSQLMonitorHook hook(prefix.str());
    const std::string header = Header();
    const std::string body = std::string("\x01\x1B\t") + std::string(4500 - header.size() - 9, 'a');
    const std::string escaped = header + "#$01#$1B\t" + std::string(body.size() - 3, 'a');
    ASSERT_EQ(escaped.size(), 4500u);

    hook.WriteTrace(body, fib::tcExecute);
    ASSERT_TRUE(monitor.WaitForMessages(1));
    const auto chunks = monitor.Chunks();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].Text.size(), 2002u);
    EXPECT_EQ(chunks[1].Text.size(), 2002u);
    EXPECT_EQ(chunks[2].Text.size(), 496u);
    for (const auto& c : chunks) {
        EXPECT_EQ(c.Category, fib::tcExecute);
        EXPECT_EQ(c.TimeStamp, chunks[0].TimeStamp);
        EXPECT_EQ(c.ChunkFlag, 1);
    }
    EXPECT_EQ(chunks[0].Text + chunks[1].Text + chunks[2].Text, escaped);
    EXPECT_EQ(monitor.Messages()[0].Text, escaped);
    EXPECT_GT(chunks[0].TimeStamp, 40000.0);
}

TEST(TraceHook, ControlBytesReachTheMonitorEscaped) {
    UniquePrefix prefix;
    InTestMonitor monitor(prefix.str());
    TFIBSQLMonitorHook hook(prefix.str());
    hook.WriteTrace("a\x01"
                    "b\x1B"
                    "c\td\r\ne\xC8",
                    fib::tcService);
    ASSERT_TRUE(monitor.WaitForMessages(1));
    EXPECT_EQ(monitor.Messages()[0].Text, Header() + "a#$01b#$1Bc\td\r\ne\xC8");
}

TEST(TraceHook, DataAccessEventsNeedTheirFlags) {
    UniquePrefix prefix;
    InTestMonitor monitor(prefix.str(), fbtracemon::WantConnect | fbtracemon::WantTransaction);
    TFIBSQLMonitorHook hook(prefix.str());
    auto db = Component("db1");
    auto tr = Component("tr1");
    auto query = Component("q1");
    hook.TracePrepare(query.get(), "select 1 from rdb$database", std::nullopt);
    hook.TraceExecute(query.get(), "update t set a = 1", {}, 3, "", 10);
    hook.TraceFetch(query.get(), "select 1", {{"A", "1"}}, false);
    hook.TraceConnect(db.get());
    hook.TraceStartTransaction(tr.get(), false, 5);
    hook.TraceStartTransaction(tr.get(), true, 5);
    hook.TraceSavepoint(tr.get(), true, 5, "SP1", 0);
    hook.TraceSavepoint(tr.get(), true, 5, "SP1", 1);
    hook.TraceSavepoint(tr.get(), true, 5, "SP1", 2);
    hook.TraceCommitRetaining(tr.get(), true, 5);
    hook.TraceRollbackRetaining(tr.get(), true, 5);
    hook.TraceRollback(tr.get(), true, 5);
    hook.TraceCommit(tr.get(), true, 6);
    hook.TraceDisconnect(db.get());

    ASSERT_TRUE(monitor.WaitForMessages(10));
    const std::vector<std::string> expected = {
        Header() + "db1: [Connect]",
        Header() + "tr1: [Start transaction](5)",
        Header() + "tr1: Transaction(5) - [SetSavePoint](\"SP1\")",
        Header() + "tr1: Transaction(5) - [RollBackToSavePoint](\"SP1\")",
        Header() + "tr1: Transaction(5) - [ReleaseSavePoint](\"SP1\")",
        Header() + "tr1: [Commit retaining (Soft commit)](5)",
        Header() + "tr1: [Rollback retaining (Soft rollback)](5)",
        Header() + "tr1: [Rollback](5)",
        Header() + "tr1: [Commit (Hard commit)](6)",
        Header() + "db1: [Disconnect]",
    };
    EXPECT_EQ(Texts(monitor.Messages()), expected);
    const auto messages = monitor.Messages();
    EXPECT_EQ(messages[0].Category, fib::tcConnect);
    EXPECT_EQ(messages[1].Category, fib::tcTransaction);
}

TEST(TraceHook, StatementEventTexts) {
    UniquePrefix prefix;
    InTestMonitor monitor(prefix.str());
    TFIBSQLMonitorHook hook(prefix.str());
    auto query = Component("q1");
    hook.TracePrepare(query.get(), "select 1", std::string("PLAN (T NATURAL)"));
    hook.TracePrepare(query.get(), "select 2", std::nullopt);
    hook.TraceExecute(query.get(), "update t set a = ? where b = ?", {{"A", "1"}, {"B", "x"}}, 3,
                      "extra", 15);
    hook.TraceExecute(query.get(), "select 1", {}, std::nullopt, "", 0);
    hook.TraceFetch(query.get(), "select a, b from t", {{"A", "1"}, {"B", "x"}}, false);
    hook.TraceFetch(query.get(), "select a, b from t", {}, true);

    ASSERT_TRUE(monitor.WaitForMessages(6));
    const std::vector<std::string> expected = {
        Header() + "q1: [Prepare] select 1\r\n  Plan: PLAN (T NATURAL)",
        Header() + "q1: [Prepare] select 2\r\n  Plan: Can't retrieve plan ",
        Header() + "q1: [Execute] update t set a = ? where b = ?\r\n  A = 1\r\n  B = x\r\n"
                   "Rows Affected:  3\r\nextra\r\nExecute tick count 15",
        Header() + "q1: [Execute] select 1\r\nExecute tick count 0",
        Header() + "q1: [Fetch] select a, b from t\r\nA = 1\r\nB = x\r\n",
        Header() + "q1: [Fetch] select a, b from t\r\n\r\n  End of file reached",
    };
    EXPECT_EQ(Texts(monitor.Messages()), expected);
}

TEST(TraceHook, DeadMonitorIsCountedOutAndLaterMessagesAreDiscarded) {
    UniquePrefix prefix;
    TFIBSQLMonitorHook hook(prefix.str());
    TTraceChannel& channel = *hook.Channel();
    TraceBlock& b = channel.Block();
    // A monitor registered and died: nobody will ever count in.
    SharedStore(b.MonitorCount, 1);
    SharedStore(b.ReaderCount, 0);

    hook.WriteTrace("first", fib::tcService);
    hook.WriteTrace("second", fib::tcService);
    hook.WriteTrace("third", fib::tcService);
    EXPECT_TRUE(hook.WriterRunning());

    ASSERT_TRUE(WaitFor([&] { return SharedLoad(b.MonitorCount) == 0; }))
        << "the handshake never counted the monitor out";
    ASSERT_TRUE(WaitForIdleChannel(channel));
    ASSERT_TRUE(WaitFor([&] { return !channel.WriteEvent().IsSet(); }));
    EXPECT_EQ(SharedLoad(b.MonitorCount), 0);
    EXPECT_EQ(SharedLoad(b.ReaderCount), 0);

    // Only the first message was written; the others were dropped.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string last(b.TextChunk, static_cast<size_t>(SharedLoad(b.ChunkLength)));
    EXPECT_EQ(last, Header() + "first");

    // New events are not traced; a message that finds no monitor stops the
    // writer (without waiting for it).
    auto service = Component("svc");
    hook.TraceServiceAttach(service.get());
    hook.WriteTrace("fourth", fib::tcService);
    EXPECT_TRUE(WaitFor([&] { return !hook.WriterRunning(); }));
    EXPECT_EQ(std::string(b.TextChunk, static_cast<size_t>(SharedLoad(b.ChunkLength))),
              Header() + "first");
}

TEST(TraceHook, LiveMonitorStaysRegisteredWhenADeadOneIsCountedOut) {
    UniquePrefix prefix;
    TFIBSQLMonitorHook hook(prefix.str());
    TraceBlock& b = hook.Channel()->Block();
    SharedStore(b.MonitorCount, 1); // the dead one
    InTestMonitor monitor(prefix.str());
    ASSERT_EQ(hook.MonitorCount(), 2);

    auto service = Component("svc");
    hook.TraceServiceAttach(service.get());
    ASSERT_TRUE(monitor.WaitForMessages(1));
    ASSERT_TRUE(WaitForIdleChannel(*hook.Channel()));
    EXPECT_EQ(hook.MonitorCount(), 1);

    hook.TraceServiceDetach(service.get());
    ASSERT_TRUE(monitor.WaitForMessages(2));
    EXPECT_EQ(monitor.Messages()[1].Text, Header() + "svc: [Detach]");
    EXPECT_EQ(hook.MonitorCount(), 1);
}

TEST(TraceHook, SetActiveFalseStopsTheWriterForGood) {
    UniquePrefix prefix;
    InTestMonitor monitor(prefix.str());
    TFIBSQLMonitorHook hook(prefix.str());
    auto service = Component("svc");
    hook.TraceServiceAttach(service.get());
    ASSERT_TRUE(monitor.WaitForMessages(1));
    EXPECT_TRUE(hook.WriterRunning());
    hook.SetActive(false);
    EXPECT_FALSE(hook.TracingActive());
    EXPECT_TRUE(WaitFor([&] { return !hook.WriterRunning(); }));
    hook.TraceServiceDetach(service.get());
    EXPECT_FALSE(hook.WriterRunning());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(monitor.Messages().size(), 1u);
}

TEST(TraceHook, WriterEndsAtTheFirstMessageAfterTheLastMonitorLeft) {
    UniquePrefix prefix;
    auto monitor = std::make_unique<InTestMonitor>(prefix.str());
    TFIBSQLMonitorHook hook(prefix.str());
    hook.WriteTrace("one", fib::tcService);
    ASSERT_TRUE(monitor->WaitForMessages(1));
    monitor.reset();
    EXPECT_EQ(hook.MonitorCount(), 0);
    EXPECT_TRUE(hook.WriterRunning());
    hook.WriteTrace("two", fib::tcService);
    EXPECT_TRUE(WaitFor([&] { return !hook.WriterRunning(); }));

    // A monitor that comes back gets a new writer.
    InTestMonitor again(prefix.str());
    hook.WriteTrace("three", fib::tcService);
    EXPECT_TRUE(hook.WriterRunning());
    ASSERT_TRUE(again.WaitForMessages(1));
    EXPECT_EQ(again.Messages()[0].Text, Header() + "three");
}

TEST(TraceHook, TwoMonitorsBothReadEveryChunk) {
    UniquePrefix prefix;
    InTestMonitor first(prefix.str());
    InTestMonitor second(prefix.str());
    TFIBSQLMonitorHook hook(prefix.str());
    ASSERT_EQ(hook.MonitorCount(), 2);
    hook.WriteTrace(std::string(3000, 'z'), fib::tcService);
    hook.WriteTrace("short", fib::tcService);
    ASSERT_TRUE(first.WaitForMessages(2));
    ASSERT_TRUE(second.WaitForMessages(2));
    EXPECT_EQ(Texts(first.Messages()), Texts(second.Messages()));
    EXPECT_EQ(first.Messages()[1].Text, Header() + "short");
    EXPECT_EQ(hook.MonitorCount(), 2);
}

TEST(TraceChannel, MissingMutexOrEventIsCreatedAgainBesideAnExistingBlock) {
    UniquePrefix prefix;
    { TTraceChannel first(prefix.str()); }
    // A process died after creating the block but before the rest.
    ASSERT_TRUE(platform::RemoveNamedObject(prefix.Name(fib::MutexObjectName)));
    ASSERT_TRUE(platform::RemoveNamedObject(prefix.Name(fib::WriteFinishedEventObjectName)));
    TTraceChannel second(prefix.str());
    EXPECT_FALSE(second.Created());
    EXPECT_TRUE(second.WriteFinishedEvent().IsSet());
    EXPECT_EQ(second.Mutex().Lock(0), platform::NamedMutex::LockResult::Locked);
    EXPECT_TRUE(second.Mutex().Unlock());
}

TEST(TraceHook, WriterThatDiedInTheMiddleOfACycleDoesNotCostTheMonitor) {
    UniquePrefix prefix;
    InTestMonitor monitor(prefix.str());
    TFIBSQLMonitorHook hook(prefix.str());
    // Another writer took the mutex, published a chunk and ended before
    // closing the cycle.
    std::thread([&] {
        TTraceChannel& channel = *hook.Channel();
        ASSERT_NE(channel.Mutex().Lock(1000), platform::NamedMutex::LockResult::Timeout);
        ASSERT_TRUE(channel.ReadEvent().Wait(5000));
        const std::string text = "\r\n[Application: gone]\r\nlast words";
        std::memcpy(channel.Block().TextChunk, text.data(), text.size());
        SharedStore(channel.Block().ChunkLength, static_cast<int32_t>(text.size()));
        channel.Block().ChunkFlag = 1;
        channel.WriteFinishedEvent().Reset();
        channel.ReadFinishedEvent().Reset();
        channel.WriteEvent().Set();
    }).join();

    hook.WriteTrace("after", fib::tcService);
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& m : monitor.Messages()) {
            if (m.Text == Header() + "after") {
                return true;
            }
        }
        return false;
    })) << "the message never arrived";
    EXPECT_EQ(hook.MonitorCount(), 1) << "the live monitor was counted out";
}

// Counts another process wrote: a value outside 0..64 is a corrupt block and
// turns tracing off for good, whether the tracing thread or the writer (in
// the middle of a handshake) meets it first.
TEST(TraceHook, CountsOutsideTheSaneRangeTurnTracingOff) {
    struct Case {
        const char* what;
        int32_t monitors;
        int32_t readers;
        bool sane;
    };
    const Case cases[] = {
        {"64 monitors", 64, 64, true},
        {"65 monitors", 65, 0, false},
        {"INT32_MAX monitors", INT32_MAX, 0, false},
        {"negative monitors", -1, 0, false},
        {"65 readers", 1, 65, false},
        {"negative readers", 1, -1, false},
    };
    auto service = Component("svc");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UniquePrefix prefix;
        TFIBSQLMonitorHook hook(prefix.str());
        TraceBlock& b = hook.Channel()->Block();
        SharedStore(b.MonitorCount, c.monitors);
        SharedStore(b.ReaderCount, c.readers);
        hook.TraceServiceAttach(service.get());
        EXPECT_EQ(hook.TracingActive(), c.sane);
        EXPECT_EQ(hook.WriterRunning(), c.sane);
        // Flipped back: tracing stays off.
        SharedStore(b.MonitorCount, 1);
        SharedStore(b.ReaderCount, 0);
        hook.TraceServiceDetach(service.get());
        EXPECT_EQ(hook.TracingActive(), c.sane);
        if (c.monitors > fib::TraceMaxCount) {
            SharedStore(b.MonitorCount, c.monitors);
            EXPECT_THROW(TTraceChannel again(prefix.str()), fib::EFIBClientError)
                << "a corrupt block was opened";
        }
    }

    // The writer waits in the handshake for a monitor that never answers
    // when the reader count goes bad: it gives up at once, closes the cycle
    // and ends; the next event turns tracing off.
    UniquePrefix prefix;
    TFIBSQLMonitorHook hook(prefix.str());
    TTraceChannel& channel = *hook.Channel();
    SharedStore(channel.Block().MonitorCount, 1);
    hook.TraceServiceAttach(service.get());
    ASSERT_TRUE(WaitFor([&] { return channel.Block().ChunkFlag == 1; }));
    SharedStore(channel.Block().ReaderCount, INT32_MAX);
    EXPECT_TRUE(WaitFor([&] { return !hook.WriterRunning(); }, std::chrono::seconds(5)));
    EXPECT_TRUE(channel.WriteFinishedEvent().IsSet());
    hook.TraceServiceDetach(service.get());
    EXPECT_FALSE(hook.TracingActive());
}
