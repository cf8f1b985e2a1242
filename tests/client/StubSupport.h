// Helpers for the tests that load the client-library stand-ins: where they
// are, private copies under other names, and what they reported.
#pragma once

#include <functional>
#include <string>

namespace stubtest {

// Full path of a stand-in built by the test tree ("fbstub_full" ...).
std::string StubPath(const std::string& stubName);

// A folder of this test process for copies and odd files.
const std::string& ScratchDir();

// Copies a stand-in into ScratchDir() under fileName (a separate file, so
// the system loads it apart from the original); returns the copy's path.
// A copy that exists already is kept as it is.
std::string StubCopy(const std::string& stubName, const std::string& fileName);

// How often the library file at `path` reported `what` ("load", "unload" or
// an entry name) since the process started.
int EventCount(const std::string& path, const std::string& what);

// Runs on every call a stand-in reports, on the calling thread; may throw.
void SetCallProbe(std::function<void(const std::string& entry)> probe);

// An exported function of an already loaded stand-in.
void* StubSymbol(const std::string& path, const char* name);

// Sets the texts that the stand-in's error entries return.
void Script(const std::string& path, long sqlCode, const std::string& sqlText,
            std::initializer_list<const char*> lines);

} // namespace stubtest
