// The account the suite's programs use on their database server: the one
// place that names it (scripts/lib.sh keeps the shell's copy). The tool, its
// helper programs, the benchmarks and the tests attach with it.
#pragma once

namespace fib {

inline constexpr const char* SuiteUserName = "SYSDBA";
inline constexpr const char* SuitePassword = "jwx+[]";

} // namespace fib
