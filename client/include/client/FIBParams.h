// Database and transaction parameter blocks built from name=value lines, as
// the data-access components keep their connection and transaction options.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "rtl/Rtl.h"

namespace fib {

// How the database block carries a parameter (the bytes after its code).
enum class TDpbEncoding : uint8_t {
    NotSupported, // refused with the unsupported-name error
    Byte,         // 1, the value read as an integer, its low 8 bits
    Fixed0,       // 1, 0: the value is ignored
    Fixed1,       // 1, 1: the value is ignored
    Fixed2,       // 1, 2: the value is ignored
    Bare,         // 0: the value is ignored
    Number,       // 4, the value read as a 32-bit integer
    Text,         // the value's length in one byte, the value
    Dialect,      // as Text, with the first character turned into its digit
    Shutdown,     // 0 for an empty value, else 1 and the shutdown-mode bits
};
// Which server kind a parameter is written for; for the other one its line
// adds nothing.
enum class TDpbServer : uint8_t { Any, Firebird, InterBase };

struct DatabaseParamName {
    const char* Name; // lower case, without the isc_dpb_ prefix
    int Code;
    TDpbEncoding Encoding;
    TDpbServer Server;
};

// How the transaction block carries a parameter.
enum class TTpbEncoding : uint8_t {
    NotSupported, // refused with the unsupported-name error
    Bare,         // the code alone: the value is ignored
    Table,        // the table's name behind its length in one byte
    LockTimeout,  // with a value: 2, the seconds as a 16-bit number (default 10)
};

struct TransactionParamName {
    const char* Name; // lower case, without the isc_tpb_ prefix
    int Code;
    TTpbEncoding Encoding;
};

// The first 83 entries have the code of their position (1-based); three more
// follow that repeat codes 72, 68 and 77 under their newer names.
extern const std::array<DatabaseParamName, 86> DatabaseParamNames;
// Code equal to position (1-based); lock_timeout repeats code 21.
extern const std::array<TransactionParamName, 22> TransactionParamNames;

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
