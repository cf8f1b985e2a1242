// Named shared objects for tests: names no other process uses, the files the
// system keeps them in, and objects put under a name by someone else.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/NamedObjects.h"

namespace slvtest {

// The file in which the system keeps this account's object of that name.
inline std::string ObjectFile(const std::string& name) {
    return "/dev/shm" + platform::NamedObjectSystemName(name);
}

// Puts a plain file of `size` bytes and the given mode at `file`, as another
// program could.
inline void MakeForeignFile(const std::string& file, off_t size, mode_t mode = 0600) {
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
    ASSERT_GE(fd, 0) << file << ": " << std::strerror(errno);
    ASSERT_EQ(fchmod(fd, mode), 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

// Puts a plain shared memory object of `size` bytes under the name, as this
// account's own.
inline void MakeForeignObject(const std::string& name, off_t size) {
    MakeForeignFile(ObjectFile(name), size);
}

// A prefix no other process uses; every object under it, of any account and
// any kind, is removed when the guard starts and when it ends.
class UniquePrefix {
public:
    UniquePrefix() {
        static std::atomic<int> counter{0};
        FPrefix = "slvtest." + std::to_string(getpid()) + "." + std::to_string(counter++) + ".";
        RemoveAll();
    }
    ~UniquePrefix() { RemoveAll(); }
    UniquePrefix(const UniquePrefix&) = delete;
    UniquePrefix& operator=(const UniquePrefix&) = delete;
    const std::string& str() const { return FPrefix; }
    std::string Name(const char* objectName) const { return FPrefix + objectName; }

private:
    void RemoveAll() const {
        std::vector<std::string> names;
        if (auto* dir = opendir("/dev/shm")) {
            while (auto* entry = readdir(dir)) {
                if (std::string(entry->d_name).rfind(FPrefix, 0) == 0) {
                    names.emplace_back(entry->d_name);
                }
            }
            closedir(dir);
        }
        for (const auto& name : names) {
            std::error_code ignored;
            std::filesystem::remove("/dev/shm/" + name, ignored);
        }
    }

    std::string FPrefix;
};

} // namespace slvtest
