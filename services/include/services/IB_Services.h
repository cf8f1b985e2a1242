// Service-manager components: attach to a Firebird server's service manager
// with a user name and password, start a backup or restore action with its
// options and files, read the action's text output line by line and ask
// whether it still runs.
#pragma once

#include <ibase.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "client/IB_Intf.h"
#include "rtl/Rtl.h"

namespace fib {

// How the connect string is formed.
enum class TProtocol : uint8_t { TCP = 0, SPX = 1, NamedPipe = 2, Local = 3 };

// A small set of enumeration members; Bits() is the set value (bit n set for
// the member of ordinal n).
template <typename E> class TSmallSet {
public:
    constexpr TSmallSet() = default;
    constexpr TSmallSet(std::initializer_list<E> members) {
        for (E m : members) {
            Include(m);
        }
    }
    static constexpr TSmallSet FromBits(uint32_t bits) {
        TSmallSet s;
        s.FBits = bits;
        return s;
    }
    constexpr bool Contains(E member) const { return (FBits & Bit(member)) != 0; }
    constexpr TSmallSet& Include(E member) {
        FBits |= Bit(member);
        return *this;
    }
    constexpr TSmallSet& Exclude(E member) {
        FBits &= ~Bit(member);
        return *this;
    }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr uint32_t Bits() const { return FBits; }
    friend constexpr bool operator==(TSmallSet a, TSmallSet b) { return a.FBits == b.FBits; }

private:
    static constexpr uint32_t Bit(E member) { return 1u << static_cast<unsigned>(member); }
    uint32_t FBits = 0;
};

enum class TBackupOption : uint8_t {
    IgnoreChecksums,     // 0x01
    IgnoreLimbo,         // 0x02
    MetadataOnly,        // 0x04
    NoGarbageCollection, // 0x08
    OldMetadataDesc,     // 0x10
    NonTransportable,    // 0x20
    ConvertExtTables,    // 0x40
};
using TBackupOptions = TSmallSet<TBackupOption>;

enum class TRestoreOption : uint8_t {
    DeactivateIndexes,  // 0x0100
    NoShadow,           // 0x0200
    NoValidityCheck,    // 0x0400
    OneRelationAtATime, // 0x0800
    Replace,            // 0x1000
    CreateNewDB,        // 0x2000
    UseAllSpace,        // 0x4000
    ValidationCheck,    // 0x8000
    OnlyMetadata,       // 0x0004
    FixFssMetadata,     // no bit: sends FixCharset as item 14
    FixFssData,         // no bit: sends FixCharset as item 13
};
using TRestoreOptions = TSmallSet<TRestoreOption>;

// The options word the server expects for a set of options.
uint32_t BackupOptionsWord(TBackupOptions options);
uint32_t RestoreOptionsWord(TRestoreOptions options);

// Names of the service parameters that Params lines may carry, with the
// one-byte code written into a block. Positions 1 to 13 are indexes 0 to 12.
struct TServiceParamName {
    const char* Name;
    uint8_t Code;
};
inline constexpr int ServiceParamNameCount = 13;
extern const std::array<TServiceParamName, ServiceParamNameCount> ServiceParamNames;

// Position (1 to 13) of a parameter name, 0 when unknown: ASCII letters are
// lower-cased and a leading "isc_spb_" dropped before the exact comparison.
int ServiceParamPosition(const std::string& name);

// Builds the service parameter block for the attach call from name=value
// lines. Raises client error 72/73, rtl::EConvertError for a bad integer, or
// a client error when a value or the block does not fit its length field.
std::string BuildServiceAttachBlock(const rtl::TStringList& params);

// --- reply parsing ------------------------------------------------------

enum class TReplyStatus : uint8_t { Ok, EndOfOutput, Unexpected };

// One line reply: 3E, 16-bit length L, L bytes of text, 01. The end marker
// must lie inside the reply buffer. Text is the byte range [TextOffset,
// TextOffset+TextLength) of the reply; the end marker is at EndOffset.
struct TLineReply {
    TReplyStatus Status = TReplyStatus::Unexpected;
    size_t TextOffset = 0;
    size_t TextLength = 0;
    size_t EndOffset = 0;
};
TLineReply ParseLineReply(const char* reply, size_t replySize) noexcept;

// One reply to isc_info_svc_to_eof: 3F, a 16-bit length L, L bytes of the
// action's raw output (lines ended by "\n", the last one possibly cut), then
// what the server says of the rest, then 01 (isc_info_end) inside the buffer:
//   02 (isc_info_truncated)      the buffer was full, more output waits;
//   40 (isc_info_svc_timeout)    the wait ended before more output came;
//   04 (isc_info_data_not_ready) nothing is ready yet.
// Ok: output (possibly none) with more to come; EndOfOutput: no output and
// none of these marks, so the action's output has ended. Any other byte
// before the end marker is unexpected.
struct TOutputReply {
    TReplyStatus Status = TReplyStatus::Unexpected;
    size_t TextOffset = 0;
    size_t TextLength = 0;
};
TOutputReply ParseOutputReply(const char* reply, size_t replySize) noexcept;

// Cuts raw output into the lines the line query gives: each "\n" ends a line
// and becomes a trailing blank, as the server turns it into one for the line
// query; a line ends at its first zero byte. Complete lines are appended to
// `lines`; the text after the last "\n" stays in `carry` for the next piece,
// unless it grows to `longestLine` bytes (at least 1): then it is handed out
// as a line of its own, so the carry stays bounded. Returns the number of
// lines appended.
size_t SplitOutputLines(std::string& carry, std::string_view output, size_t longestLine,
                        std::vector<std::string>& lines);

// A running-state reply: 43 then a 32-bit value, 1 while the action runs.
struct TRunningReply {
    TReplyStatus Status = TReplyStatus::Unexpected;
    bool Running = false;
};
TRunningReply ParseRunningReply(const char* reply, size_t replySize) noexcept;

// --- login --------------------------------------------------------------

// The login dialog: display text (the server name), user name, password and
// role in and out; true when the user confirmed.
using TLoginDialogProc = std::function<bool(const std::string& databaseName, std::string& userName,
                                            std::string& password, std::string& role)>;
// Process-wide slot, empty until a login dialog registers itself.
TLoginDialogProc& LoginDialogHook();

class TpFIBCustomService;

using TNotifyEvent = std::function<void(rtl::TComponent* sender)>;
using TLoginEvent =
    std::function<void(TpFIBCustomService* database, rtl::TStringList& loginParams)>;
using TServiceGetTextNotify = std::function<void(rtl::TComponent* sender, const std::string& text)>;

// --- component base ------------------------------------------------------

class TpFIBCustomService : public rtl::TComponent {
public:
    explicit TpFIBCustomService(rtl::TComponent* owner = nullptr);
    ~TpFIBCustomService() override;

    bool Active() const noexcept { return FServiceHandle != 0; }
    void SetActive(bool value);

    const std::string& ServerName() const noexcept { return FServerName; }
    void SetServerName(const std::string& value);

    const std::string& LibraryName() const noexcept { return FLibraryName; }
    void SetLibraryName(const std::string& value);

    TProtocol Protocol() const noexcept { return FProtocol; }
    void SetProtocol(TProtocol value);

    rtl::TStringList& Params() noexcept { return FParams; }
    const rtl::TStringList& Params() const noexcept { return FParams; }
    void SetParams(const rtl::TStringList& value);

    bool LoginPrompt() const noexcept { return FLoginPrompt; }
    void SetLoginPrompt(bool value) noexcept { FLoginPrompt = value; }

    TNotifyEvent OnAttach;
    TLoginEvent OnLogin;

    void Attach();
    void Detach();

    // The login step: OnLogin, else the process's login dialog. False when
    // no dialog is installed or the user cancelled.
    bool RequestLogin();
    // Index of the first Params line whose name text stands at its start or
    // right after an 8-character prefix; -1 when none.
    int FindParamLine(const std::string& name) const;

    // What Attach sends: the connect string and the last built attach block.
    std::string ConnectString() const;
    const std::string& AttachBlock() const noexcept { return FAttachBlock; }
    isc_svc_handle ServiceHandle() const noexcept { return FServiceHandle; }

protected:
    void Loaded() override;

    void EnsureAttached();
    void EnsureDetached() const;
    void EnsureLibrary();
    void QueryService();
    // The same with send items (such as a timeout), into a reply buffer of
    // the caller's, filled from its first byte; its size is the length
    // handed to the call (at most 65535).
    void QueryService(const std::string& sendItems, std::string& reply);
    // The 32-bit number at `offset` of the reply buffer; `offset` moves past
    // it. Raises ceUnexpectedOutput when the number does not lie inside the
    // reply.
    int32_t ReadBufferInteger(int& offset);

    std::string& QueryItems() noexcept { return FQueryItems; }
    char* ReplyBuffer() noexcept { return FReplyBuffer.empty() ? nullptr : FReplyBuffer.data(); }
    // Bytes of ReplyBuffer that the last query may have filled.
    size_t ReplyLength() const noexcept;
    int32_t BufferSizeValue() const noexcept { return FBufferSize; }
    void SetBufferSizeValue(int32_t value);
    const IIBClientLibraryPtr& ClientLibrary() const noexcept { return FClientLibrary; }
    isc_svc_handle* ServiceHandlePtr() noexcept { return &FServiceHandle; }

    // After a failed start or query: builds the error from the status vector,
    // releases the server's attachment quietly, forgets the handle and
    // raises the error.
    [[noreturn]] void RaiseAndDrop();

private:
    void Query(const std::string& sendItems, char* reply, size_t replyLength);
    void ParamsChanging();
    void AllocateReplyBuffer();
    void ParamsChanged() noexcept { FParamsDirty = true; }

    IIBClientLibraryPtr FClientLibrary;
    isc_svc_handle FServiceHandle = 0;
    std::string FServerName;
    std::string FLibraryName;
    TProtocol FProtocol = TProtocol::Local;
    rtl::TStringList FParams;
    bool FLoginPrompt = true;
    std::string FAttachBlock;
    bool FParamsDirty = true;
    std::string FQueryItems;
    int32_t FBufferSize = 32000;
    std::string FReplyBuffer;
    bool FPendingActive = false;
};

// --- start and query -----------------------------------------------------

class TpFIBControlService : public TpFIBCustomService {
public:
    using TpFIBCustomService::TpFIBCustomService;

    virtual void ServiceStart();
    bool IsRunning();

protected:
    // Fills StartItems for the concrete action; nothing here.
    virtual void BuildStartItems() {}
    void SendStart();

    std::string& StartItems() noexcept { return FStartItems; }
    // Code byte, 16-bit length, bytes; nothing for an empty text.
    void AppendStartText(const std::string& text, uint8_t code);
    // Code byte and the 32-bit value, always.
    void AppendStartNumber(int32_t value, uint8_t code);

private:
    std::string FStartItems;
};

class TpFIBControlAndQueryService : public TpFIBControlService {
public:
    using TpFIBControlService::TpFIBControlService;

    int32_t BufferSize() const noexcept { return BufferSizeValue(); }
    void SetBufferSize(int32_t value) { SetBufferSizeValue(value); }

    bool EndOfOutput() const noexcept { return FEndOfOutput; }
    int32_t ActionCode() const noexcept { return FActionCode; }

    // With OnTextNotify set, also hands every output line to it, the empty
    // string of the end of output last.
    void ServiceStart() override;
    // The next line of the action's output; the empty string once the
    // output has ended.
    std::string ReadNextLine();

    // Every line of the action's output that is available now, appended to
    // `lines`: the same lines, in the same order, as ReadNextLine would give
    // one by one, the empty string of the end of output included (and
    // EndOfOutput set with it). The server is asked for all its output at
    // once and waits at most OutputWaitSeconds for some, so a call may
    // append no line while the action works on. Returns the number of lines
    // appended; once the output has ended, 0 without asking the server.
    // Errors arrive as from ReadNextLine. An action is read either in bulk or
    // line by line, not both.
    size_t ReadAvailableLines(std::vector<std::string>& lines);

    // How long the bulk reader lets the server wait for output, and the size
    // of its reply buffer.
    static constexpr uint32_t OutputWaitSeconds = 1;
    static constexpr size_t OutputBufferSize = 16384;

    TServiceGetTextNotify OnTextNotify;

protected:
    void SelectAction(int32_t code) noexcept {
        FEndOfOutput = false;
        FActionCode = code;
        FPartialLine.clear();
    }

private:
    bool FEndOfOutput = false;
    int32_t FActionCode = 0;
    // Output after the last line end, carried to the next bulk read.
    std::string FPartialLine;
    std::string FOutputBuffer;
};

class TpFIBBackupRestoreService : public TpFIBControlAndQueryService {
public:
    using TpFIBControlAndQueryService::TpFIBControlAndQueryService;

    bool Verbose() const noexcept { return FVerbose; }
    void SetVerbose(bool value) noexcept { FVerbose = value; }

private:
    bool FVerbose = false;
};

// --- backup and restore --------------------------------------------------

class TpFIBBackupService : public TpFIBBackupRestoreService {
public:
    using TpFIBBackupRestoreService::TpFIBBackupRestoreService;

    rtl::TStringList& BackupFile() noexcept { return FBackupFile; }
    const rtl::TStringList& BackupFile() const noexcept { return FBackupFile; }
    void SetBackupFile(const rtl::TStringList& value) { FBackupFile.Assign(value); }

    int32_t BlockingFactor() const noexcept { return FBlockingFactor; }
    void SetBlockingFactor(int32_t value) noexcept { FBlockingFactor = value; }

    const std::string& DatabaseName() const noexcept { return FDatabaseName; }
    void SetDatabaseName(const std::string& value) { FDatabaseName = value; }

    TBackupOptions Options() const noexcept { return FOptions; }
    void SetOptions(TBackupOptions value) noexcept { FOptions = value; }

protected:
    void BuildStartItems() override;

private:
    rtl::TStringList FBackupFile;
    int32_t FBlockingFactor = 0;
    std::string FDatabaseName;
    TBackupOptions FOptions;
};

class TpFIBRestoreService : public TpFIBBackupRestoreService {
public:
    using TpFIBBackupRestoreService::TpFIBBackupRestoreService;

    rtl::TStringList& DatabaseName() noexcept { return FDatabaseName; }
    const rtl::TStringList& DatabaseName() const noexcept { return FDatabaseName; }
    void SetDatabaseName(const rtl::TStringList& value) { FDatabaseName.Assign(value); }

    rtl::TStringList& BackupFile() noexcept { return FBackupFile; }
    const rtl::TStringList& BackupFile() const noexcept { return FBackupFile; }
    void SetBackupFile(const rtl::TStringList& value) { FBackupFile.Assign(value); }

    int32_t PageSize() const noexcept { return FPageSize; }
    void SetPageSize(int32_t value) noexcept { FPageSize = value; }

    int32_t PageBuffers() const noexcept { return FPageBuffers; }
    void SetPageBuffers(int32_t value) noexcept { FPageBuffers = value; }

    const std::string& FixCharset() const noexcept { return FFixCharset; }
    void SetFixCharset(const std::string& value) { FFixCharset = value; }

    TRestoreOptions Options() const noexcept { return FOptions; }
    void SetOptions(TRestoreOptions value) noexcept { FOptions = value; }

protected:
    void BuildStartItems() override;

private:
    rtl::TStringList FDatabaseName;
    rtl::TStringList FBackupFile;
    int32_t FPageSize = 4096;
    int32_t FPageBuffers = 0;
    std::string FFixCharset;
    TRestoreOptions FOptions{TRestoreOption::CreateNewDB};
};

} // namespace fib
