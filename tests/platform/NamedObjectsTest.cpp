#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/NamedObjects.h"
#include "testsupport/SharedObjects.h"

using platform::NamedEvent;
using platform::NamedMutex;
using platform::NamedObjectError;
using platform::SharedMemoryBlock;
using slvtest::MakeForeignFile;
using slvtest::MakeForeignObject;
using slvtest::ObjectFile;
using slvtest::UniquePrefix;

namespace {

mode_t ObjectMode(const std::string& name) {
    struct stat st {};
    if (stat(ObjectFile(name).c_str(), &st) != 0) {
        return 0;
    }
    return st.st_mode & 0777;
}

int ErrorOf(const std::function<void()>& open) {
    try {
        open();
    } catch (const NamedObjectError& e) {
        return e.Code();
    }
    return 0;
}

} // namespace

TEST(NamedObjects, BlockIsCreatedOnceAndSharedByEveryOpener) {
    UniquePrefix prefix;
    bool existed = true;
    auto first = SharedMemoryBlock::Create(prefix.Name("Block"), 2048, &existed);
    EXPECT_FALSE(existed);
    ASSERT_EQ(first->Size(), 2048u);
    auto* bytes = static_cast<unsigned char*>(first->Data());
    for (size_t i = 0; i < 2048; ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
    bytes[100] = 42;

    auto second = SharedMemoryBlock::Create(prefix.Name("Block"), 2048, &existed);
    EXPECT_TRUE(existed);
    EXPECT_EQ(static_cast<unsigned char*>(second->Data())[100], 42);
    auto third = SharedMemoryBlock::Open(prefix.Name("Block"), 2048);
    EXPECT_EQ(static_cast<unsigned char*>(third->Data())[100], 42);
}

TEST(NamedObjects, ObjectsArePrivateToTheAccountWhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{0277}}) {
        UniquePrefix prefix;
        const mode_t old = umask(mask);
        bool existed = false;
        auto block = SharedMemoryBlock::Create(prefix.Name("Block"), 64, &existed);
        auto mutex = NamedMutex::Create(prefix.Name("Mutex"));
        auto event = NamedEvent::Create(prefix.Name("Event"), false);
        umask(old);
        for (const char* name : {"Block", "Mutex", "Event"}) {
            EXPECT_EQ(ObjectMode(prefix.Name(name)), 0600u) << name << " umask " << mask;
        }
        EXPECT_NE(platform::NamedObjectSystemName(prefix.Name("Block"))
                      .find(".uid" + std::to_string(geteuid())),
                  std::string::npos);
        EXPECT_NO_THROW(SharedMemoryBlock::Open(prefix.Name("Block"), 64));
        EXPECT_NO_THROW(NamedEvent::Open(prefix.Name("Event")));
    }
}

// What may lie under a name in /dev/shm without being this account's own
// private object. Every kind is refused at once, with no waiting for it to
// "finish initialising". (Objects of other accounts: the trace channel's attack tests.)
TEST(NamedObjects, WhatIsNotAPrivateRegularObjectIsRefusedAtOnce) {
    struct Squat {
        const char* what;
        std::function<void(const std::string& file, const std::string& own)> make;
        int code;
    };
    const std::vector<Squat> squats = {
        {"an empty file open to others", [](auto& f, auto&) { MakeForeignFile(f, 0, 0644); },
         EACCES},
        {"a group-writable object of the right size",
         [](auto& f, auto&) { MakeForeignFile(f, 2048, 0660); }, EACCES},
        {"a FIFO", [](auto& f, auto&) { ASSERT_EQ(mkfifo(f.c_str(), 0600), 0); }, EEXIST},
        // shm_open reports a directory as EINVAL.
        {"a directory", [](auto& f, auto&) { ASSERT_EQ(mkdir(f.c_str(), 0700), 0); }, EINVAL},
        {"a symbolic link to a sound object",
         [](auto& f, auto& own) { ASSERT_EQ(symlink(own.c_str(), f.c_str()), 0); }, ELOOP},
        {"a second name of a sound object",
         [](auto& f, auto& own) { ASSERT_EQ(link(own.c_str(), f.c_str()), 0); }, EACCES},
    };
    for (const Squat& squat : squats) {
        for (const char* kind : {"block", "mutex", "event"}) {
            SCOPED_TRACE(std::string(squat.what) + " under a " + kind + " name");
            UniquePrefix prefix;
            bool existed = false;
            auto own = SharedMemoryBlock::Create(prefix.Name("Own"), 2048, &existed);
            squat.make(ObjectFile(prefix.Name("Taken")), ObjectFile(prefix.Name("Own")));
            const std::string name = prefix.Name("Taken");
            const auto started = std::chrono::steady_clock::now();
            const int code = ErrorOf([&] {
                if (std::string(kind) == "block") {
                    static_cast<void>(SharedMemoryBlock::Create(name, 2048, &existed));
                } else if (std::string(kind) == "mutex") {
                    static_cast<void>(NamedMutex::Create(name));
                } else {
                    static_cast<void>(NamedEvent::Create(name, false));
                }
            });
            const auto took = std::chrono::steady_clock::now() - started;
            EXPECT_EQ(code, squat.code) << std::strerror(code);
            // Only an empty object of the account itself is waited for (its
            // creator has not sized it yet), for 2 s.
            EXPECT_LT(took, std::chrono::seconds(1)) << "it waited for the squatter";
        }
    }
}

TEST(NamedObjects, BlockOfAnotherSizeUnderTheNameIsRefused) {
    UniquePrefix prefix;
    MakeForeignObject(prefix.Name("Block"), 100);
    bool existed = false;
    try {
        static_cast<void>(SharedMemoryBlock::Create(prefix.Name("Block"), 2048, &existed));
        FAIL() << "a 100-byte object was accepted";
    } catch (const NamedObjectError& e) {
        EXPECT_EQ(e.Code(), EEXIST);
    }
}

TEST(NamedObjects, OpeningAMissingBlockFails) {
    UniquePrefix prefix;
    try {
        static_cast<void>(SharedMemoryBlock::Open(prefix.Name("Nothing"), 2048));
        FAIL() << "opened an object that does not exist";
    } catch (const NamedObjectError& e) {
        EXPECT_EQ(e.Code(), ENOENT);
    }
}

TEST(NamedObjects, ObjectOfAnotherKindUnderAMutexNameIsRefused) {
    UniquePrefix prefix;
    auto event = NamedEvent::Create(prefix.Name("Thing"), false);
    // Same size would not help: the header says it is an event.
    EXPECT_THROW(NamedMutex::Open(prefix.Name("Thing")), NamedObjectError);
    EXPECT_THROW(NamedMutex::Create(prefix.Name("Thing")), NamedObjectError);

    MakeForeignObject(prefix.Name("Plain"), 100);
    try {
        static_cast<void>(NamedEvent::Open(prefix.Name("Plain")));
        FAIL() << "a plain object was accepted as an event";
    } catch (const NamedObjectError& e) {
        EXPECT_EQ(e.Code(), EEXIST);
    }
}

TEST(NamedObjects, MutexOwnershipIsRecursiveAndPerThread) {
    UniquePrefix prefix;
    auto mutex = NamedMutex::Create(prefix.Name("Mutex"));
    auto other = NamedMutex::Open(prefix.Name("Mutex"));
    ASSERT_EQ(mutex->Lock(1000), NamedMutex::LockResult::Locked);
    ASSERT_EQ(mutex->Lock(0), NamedMutex::LockResult::Locked);

    NamedMutex::LockResult seen{};
    std::thread([&] { seen = other->Lock(50); }).join();
    EXPECT_EQ(seen, NamedMutex::LockResult::Timeout);

    EXPECT_TRUE(mutex->Unlock());
    std::thread([&] { seen = other->Lock(50); }).join();
    EXPECT_EQ(seen, NamedMutex::LockResult::Timeout) << "one hold is still there";

    EXPECT_TRUE(mutex->Unlock());
    bool unlocked = false;
    std::thread([&] {
        seen = other->Lock(1000);
        unlocked = other->Unlock();
    }).join();
    EXPECT_EQ(seen, NamedMutex::LockResult::Locked);
    EXPECT_TRUE(unlocked);
    EXPECT_FALSE(mutex->Unlock()) << "not owned any more";
}

TEST(NamedObjects, MutexOfADeadOwnerGoesToTheNextLocker) {
    UniquePrefix prefix;
    auto mutex = NamedMutex::Create(prefix.Name("Mutex"));
    std::thread([&] { ASSERT_EQ(mutex->Lock(1000), NamedMutex::LockResult::Locked); }).join();
    EXPECT_EQ(mutex->Lock(2000), NamedMutex::LockResult::OwnerDied);
    EXPECT_TRUE(mutex->Unlock());
    EXPECT_EQ(mutex->Lock(0), NamedMutex::LockResult::Locked) << "usable again";
    EXPECT_TRUE(mutex->Unlock());
}

TEST(NamedObjects, MutexOfAProcessThatDiedHoldingItIsRecovered) {
    UniquePrefix prefix;
    auto mutex = NamedMutex::Create(prefix.Name("Mutex"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto inChild = NamedMutex::Open(prefix.Name("Mutex"));
        _exit(inChild->Lock(1000) == NamedMutex::LockResult::Timeout ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(mutex->Lock(2000), NamedMutex::LockResult::OwnerDied);
    EXPECT_TRUE(mutex->Unlock());
}

TEST(NamedObjects, EventsStartInTheirStateAndStaySetUntilReset) {
    UniquePrefix prefix;
    auto off = NamedEvent::Create(prefix.Name("Off"), false);
    auto on = NamedEvent::Create(prefix.Name("On"), true);
    EXPECT_FALSE(off->IsSet());
    EXPECT_TRUE(on->IsSet());
    EXPECT_FALSE(off->Wait(20));
    EXPECT_TRUE(on->Wait(0));
    EXPECT_TRUE(on->Wait(0)) << "manual reset: waiting does not clear it";

    // Creating again opens the existing one and keeps its state.
    auto again = NamedEvent::Create(prefix.Name("Off"), true);
    EXPECT_FALSE(again->IsSet());

    again->Set();
    EXPECT_TRUE(off->IsSet());
    off->Reset();
    EXPECT_FALSE(again->IsSet());
}

TEST(NamedObjects, SettingAnEventWakesEveryWaiter) {
    UniquePrefix prefix;
    auto event = NamedEvent::Create(prefix.Name("Event"), false);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            auto mine = NamedEvent::Open(prefix.Name("Event"));
            if (mine->Wait(10000)) {
                ++woken;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    event->Set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(woken.load(), 3);
}

TEST(NamedObjects, RemovingANameLeavesOpenObjectsUsable) {
    UniquePrefix prefix;
    auto event = NamedEvent::Create(prefix.Name("Event"), false);
    EXPECT_TRUE(platform::RemoveNamedObject(prefix.Name("Event")));
    EXPECT_FALSE(platform::RemoveNamedObject(prefix.Name("Event")));
    event->Set();
    EXPECT_TRUE(event->IsSet());
    EXPECT_THROW(NamedEvent::Open(prefix.Name("Event")), NamedObjectError);
}
