#include "StubSupport.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex gLock;
std::map<std::pair<std::string, std::string>, int> gEvents;
std::function<void(const std::string&)> gProbe;

} // namespace

extern "C" __attribute__((visibility("default"))) void slv_stub_event(const char* library,
                                                                      const char* what) {
    std::function<void(const std::string&)> probe;
    {
        std::lock_guard<std::mutex> guard(gLock);
        ++gEvents[{library, what}];
        probe = gProbe;
    }
    const std::string entry = what;
    if (probe && entry != "load" && entry != "unload") {
        probe(entry);
    }
}

namespace stubtest {

std::string StubPath(const std::string& stubName) {
    return std::string(SLV_STUB_DIR) + "/" + stubName + ".so";
}

const std::string& ScratchDir() {
    // Removed again when the process ends; libraries still mapped from it
    // stay usable.
    struct Folder {
        std::string Path;
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(Path, ignored);
        }
    };
    static const Folder folder{[] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "slv-client-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot make a scratch folder";
        }
        return pattern;
    }()};
    return folder.Path;
}

std::string StubCopy(const std::string& stubName, const std::string& fileName) {
    const std::string target = ScratchDir() + "/" + fileName;
    // Never write over a copy: it may be mapped by the process already.
    std::filesystem::copy_file(StubPath(stubName), target,
                               std::filesystem::copy_options::skip_existing);
    return target;
}

int EventCount(const std::string& path, const std::string& what) {
    std::lock_guard<std::mutex> guard(gLock);
    const auto found = gEvents.find({path, what});
    return found == gEvents.end() ? 0 : found->second;
}

void SetCallProbe(std::function<void(const std::string& entry)> probe) {
    std::lock_guard<std::mutex> guard(gLock);
    gProbe = std::move(probe);
}

void* StubSymbol(const std::string& path, const char* name) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        ADD_FAILURE() << path << " is not loaded";
        return nullptr;
    }
    void* symbol = dlsym(handle, name);
    dlclose(handle); // only drops the reference NOLOAD took
    return symbol;
}

void Script(const std::string& path, long sqlCode, const std::string& sqlText,
            std::initializer_list<const char*> lines) {
    using ScriptFn = void (*)(long, const char*, const char* const*, int);
    auto script = reinterpret_cast<ScriptFn>(StubSymbol(path, "stub_script"));
    ASSERT_NE(script, nullptr);
    std::vector<const char*> list(lines);
    script(sqlCode, sqlText.c_str(), list.data(), static_cast<int>(list.size()));
}

} // namespace stubtest
