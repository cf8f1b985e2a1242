// Error reporting of the database layer: the per-thread status vector, the
// error classes built from it or from the client-error table, and the raise
// operations.
#pragma once

#include <ibase.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>

#include "rtl/Rtl.h"

// Namespace fib holds the database layer: the client-library binding, the
// error reporting and the parameter blocks and trace hook here in client/,
// and the service components in services/. This module is its error half.
namespace fib {

class IIBClientLibrary;

// One entry is ISC_STATUS (intptr_t): 64 bits on 64-bit platforms.
inline constexpr int StatusVectorLength = ISC_STATUS_LENGTH; // 20
using StatusVector = ISC_STATUS_ARRAY;

// The calling thread's status vector, zero when the thread starts. Every
// client-library call that takes a status vector is given this array.
ISC_STATUS* ThreadStatusVector();

enum ClientError : int {
    ceUnknownError = 0,
    ceUnsupportedFeature = 1,
    ceNotPermitted = 2,
    ceTempFileAccess = 3,
    ceConnectTimeout = 4,
    ceCannotSetDatabase = 5,
    ceCannotSetTransaction = 6,
    ceOperationCancelled = 7,
    ceDPBConstantNotSupported = 8,
    ceDPBConstantUnknown = 9,
    ceTPBConstantNotSupported = 10,
    ceTPBConstantUnknown = 11,
    ceDatabaseClosed = 12,
    ceDatabaseOpen = 13,
    ceDatabaseNameMissing = 14,
    ceNotInTransaction = 15,
    ceInTransaction = 16,
    ceTimeoutNegative = 17,
    ceNoDatabasesInTransaction = 18,
    ceUpdateWrongDatabase = 19,
    ceUpdateWrongTransaction = 20,
    ceDatabaseNotAssigned = 21,
    ceTransactionNotAssigned = 22,
    ceXSQLDAIndexOutOfRange = 23,
    ceXSQLDANameMissing = 24,
    ceEndOfFile = 25,
    ceBeginningOfFile = 26,
    ceInvalidStatementHandle = 27,
    ceDatasetOpen = 28,
    ceDatasetClosed = 29,
    ceUnknownSQLDataType = 30,
    ceInvalidColumnIndex = 31,
    ceInvalidParamIndex = 32,
    ceInvalidDataConversion = 33,
    ceColumnNotNullable = 34,
    ceBlobCannotBeRead = 35,
    ceBlobCannotBeWritten = 36,
    ceEmptyQuery = 37,
    ceOpenNonSelect = 38,
    ceNoFieldAccess = 39,
    ceFieldReadOnly = 40,
    ceFieldNotFound = 41,
    ceNotInEditMode = 42,
    ceNotEditing = 43,
    ceCannotInsert = 44,
    ceCannotPost = 45,
    ceCannotUpdate = 46,
    ceCannotDelete = 47,
    ceCannotRefresh = 48,
    ceBufferNotSet = 49,
    ceCircularReference = 50,
    ceSQLParseError = 51,
    ceUserAbort = 52,
    ceUniDirectional = 53,
    ceCannotCreateSharedResource = 54,
    ceWindowsAPIError = 55,
    ceColumnListsDiffer = 56,
    ceColumnTypesDiffer = 57,
    ceCannotEndSharedTransaction = 58,
    ceNotArrayField = 59,
    ceArrayDimensionMissing = 60,
    ceInvalidSQLDialect = 61,
    ceClientLibraryMissing = 62,
    ceNeedsServerVersion6 = 63,
    ceInstallLibraryMissing = 64,
    ceServiceNotAttached = 65,
    ceServiceAttached = 66,
    ceServerNameMissing = 67,
    ceQueryParamsError = 68,
    ceStartParamsError = 69,
    ceUnexpectedOutput = 70,
    ceGenericStartNotApplicable = 71,
    ceSPBConstantNotSupported = 72,
    ceSPBConstantUnknown = 73,
    ceFieldSizeTooSmall = 74,
    ceLimitedCacheNotUsable = 75,
    ceFieldListEmpty = 76,
    ceFieldNotUsable = 77,
    ceNeedsFirebird2 = 78,
    ceMDTSocketNotFound = 79,
    ceMDTTransactionOpen = 80,
    ceMDTRecordIncompatible = 81,
    ceMDTUnexpectedError = 82,
    ceMDTSavepointSet = 83,
    ceMDTSavepointNotFound = 84,
};
inline constexpr int ClientErrorCount = 85;

// The fixed English message of a client-error code (printf-style placeholders).
const char* ClientErrorMessage(ClientError code);

class EDatabaseError : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

class EFIBError : public EDatabaseError {
public:
    // Client form.
    EFIBError(int32_t code, const std::string& text, const rtl::TComponent* raiser);
    // Status form.
    EFIBError(int32_t sqlCode, const rtl::TComponent* raiser, const std::string& extraText,
              const std::string& sqlText, const std::string& statusText);

    int32_t SQLCode() const noexcept { return FSQLCode; }
    int32_t StatusCode() const noexcept { return FStatusCode; }
    const std::string& RaiserPath() const noexcept { return FRaiserPath; }
    const std::string& SQLText() const noexcept { return FSQLText; }
    const std::string& StatusText() const noexcept { return FStatusText; }
    const std::string& ExtraText() const noexcept { return FExtraText; }
    const std::string& ClientText() const noexcept { return FClientText; }
    const rtl::TComponent* Raiser() const noexcept { return FRaiser; }

private:
    void Init(int32_t code, const std::string& text, const rtl::TComponent* raiser);
    void ComposeMessage();

    int32_t FSQLCode = 0;
    int32_t FStatusCode = 0;
    std::string FRaiserPath;
    std::string FSQLText;
    std::string FStatusText;
    std::string FExtraText;
    std::string FClientText;
    const rtl::TComponent* FRaiser = nullptr;
};

class EFIBInterBaseError : public EFIBError {
public:
    using EFIBError::EFIBError;
};

class EFIBClientError : public EFIBError {
public:
    using EFIBError::EFIBError;
};

// A format argument: a text or an integer.
using FmtArg = std::variant<std::string, long long>;

// printf-style formatting of "%s", "%d" and "%.8x" (upper-case digits);
// arguments beyond the placeholders are ignored.
std::string FormatMessage(const std::string& format, std::initializer_list<FmtArg> args);

// Builds an EFIBInterBaseError from the calling thread's status vector
// through the given binding and raises it.
[[noreturn]] void RaiseStatusError(IIBClientLibrary& library, const rtl::TComponent* raiser);
// Builds the error first (so it can be raised after some clean-up call that
// uses its own status vector).
EFIBInterBaseError MakeStatusError(IIBClientLibrary& library, const rtl::TComponent* raiser);
[[noreturn]] void RaiseClientError(ClientError code, std::initializer_list<FmtArg> args = {});
[[noreturn]] void RaiseClientErrorFmt(const std::string& format, std::initializer_list<FmtArg> args = {});

// Dotted names of a component and its owners, unnamed ones left out.
std::string ComponentPath(const rtl::TComponent* component);

} // namespace fib
