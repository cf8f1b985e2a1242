// Database and transaction parameter blocks built from name=value lines, as
// the data-access components keep their connection and transaction options.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "rtl/Rtl.h"

namespace fib {

struct ParamName {
    const char* Name; // lower case, without the isc_dpb_ / isc_tpb_ prefix
    int Code;
};

// The first 83 entries have the code of their position (1-based); three more
// follow that repeat codes 72, 68 and 77 under their newer names.
extern const std::array<ParamName, 86> DatabaseParamNames;
// Code equal to position (1-based); lock_timeout repeats code 21.
extern const std::array<ParamName, 22> TransactionParamNames;

// Longest text value one parameter can carry (its length is one byte).
inline constexpr size_t MaxParamValueLength = 255;

// Builds a database parameter block from the lines. Every line is written
// back into `lines` without its surrounding blanks (a change notice is sent
// only for lines that change). Raises EFIBClientError for an unknown or
// unsupported name, a text value over 255 bytes, an empty sql_dialect value or
// a block over 65535 bytes, and rtl::EConvertError for a value that must be an
// integer and is not. `isFirebird` selects how codes 68, 72, 75 and 77 are
// written.
void BuildDatabaseParamBlock(rtl::TStringList& lines, std::string& block, uint16_t& blockLength,
                             bool isFirebird);

// Builds a transaction parameter block (empty for an empty list). Lines are
// trimmed in place as above. `lockTimeoutWithValue` writes lock_timeout with
// its 16-bit value (default 10) instead of the bare code.
void BuildTransactionParamBlock(rtl::TStringList& lines, std::string& block, uint16_t& blockLength,
                                bool lockTimeoutWithValue);

// The bits of a shutdown mode given as words or numbers separated by "," or
// ";" (cache 1, attachment 2, transaction 4, force 8, normal 16, multi 32,
// single 48, full 64, mode_mask 112); an unknown word gives -1.
int32_t ShutdownModeFromText(const std::string& text);

} // namespace fib
