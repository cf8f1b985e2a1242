// Starting a service action, reading its output, and the start blocks of the
// backup and restore actions.
#include "services/IB_Services.h"

#include <utility>
#if defined(_WIN32)
#include <optional>

#include "platform/win32/Text.h"
#endif

#include "client/FIBSQLMonitor.h"
#include "client/ParamBlock.h"
#include "client/fib.h"

namespace fib {

namespace {

uint8_t ParamCode(int position) {
    return ServiceParamNames[static_cast<size_t>(position - 1)].Code;
}

// The database name, verbose flag and options word use the codes of the
// service parameter names db_name, verbose and options.
uint8_t DbNameCode() {
    return ParamCode(7);
}
uint8_t VerboseCode() {
    return ParamCode(8);
}
uint8_t OptionsCode() {
    return ParamCode(9);
}

} // namespace

// --- TpFIBControlService ---------------------------------------------------

void TpFIBControlService::ServiceStart() {
    EnsureAttached();
    BuildStartItems();
    SendStart();
}

void TpFIBControlService::SendStart() {
    if (FStartItems.empty()) {
        RaiseClientError(ceStartParamsError);
    }
    // The start block is handed over as a copy; StartItems is empty again
    // whatever happens to the call.
    const std::string startBlock = std::exchange(FStartItems, std::string());
    if (startBlock.size() > MaxBlockLength) {
        RaiseClientErrorFmt("Start parameter block is longer than 65535 bytes");
    }
    EnsureLibrary();
    if (ClientLibrary()->isc_service_start(ThreadStatusVector(), ServiceHandlePtr(), nullptr,
                                           static_cast<unsigned short>(startBlock.size()),
                                           startBlock.data()) > 0) {
        RaiseAndDrop();
    }
    if (TFIBSQLMonitorHook* hook = MonitorHook()) {
        hook->TraceServiceStart(this);
    }
}

bool TpFIBControlService::IsRunning() {
    QueryItems().assign(1, static_cast<char>(isc_info_svc_running));
    QueryService();
    const TRunningReply reply = ParseRunningReply(ReplyBuffer(), ReplyLength());
    if (reply.Status != TReplyStatus::Ok) {
        RaiseClientError(ceUnexpectedOutput);
    }
    return reply.Running;
}

void TpFIBControlService::AppendStartText(const std::string& text, uint8_t code) {
    if (text.empty()) {
        return;
    }
#if defined(_WIN32)
    // The file names go to the client library in the ANSI code page, as the
    // suite's own programs write them: a client library converts them from
    // there for the server, and an older one hands them on to a server that
    // reads them so. A name the code page cannot hold is refused, never
    // handed on changed.
    const std::optional<std::string> converted = platform::win32::ToAnsiCodePage(text);
    if (!converted) {
        RaiseClientErrorFmt("The name \"%s\" has characters that the system's code page cannot "
                            "hold",
                            {text});
    }
    const std::string& bytes = *converted;
#else
    const std::string& bytes = text;
#endif
    // The length travels in 16 bits.
    if (!TBlockWriter(FStartItems).Text16(code, bytes)) {
        RaiseClientErrorFmt("Start parameter text is longer than 65535 bytes");
    }
}

void TpFIBControlService::AppendStartNumber(int32_t value, uint8_t code) {
    TBlockWriter(FStartItems).Byte(code).Number32(static_cast<uint32_t>(value));
}

// --- TpFIBControlAndQueryService ------------------------------------------

void TpFIBControlAndQueryService::ServiceStart() {
    TpFIBControlService::ServiceStart();
    if (OnTextNotify) {
        while (!FEndOfOutput) {
            const std::string line = ReadNextLine();
            OnTextNotify(this, line);
        }
    }
}

std::string TpFIBControlAndQueryService::ReadNextLine() {
    if (FEndOfOutput) {
        return std::string();
    }
    if (FActionCode == 0) {
        RaiseClientError(ceQueryParamsError);
    }
    QueryItems().assign(1, static_cast<char>(isc_info_svc_line));
    QueryService();
    char* reply = ReplyBuffer();
    const TLineReply line = ParseLineReply(reply, ReplyLength());
    switch (line.Status) {
    case TReplyStatus::EndOfOutput:
        FEndOfOutput = true;
        return std::string();
    case TReplyStatus::Ok: {
        FEndOfOutput = false;
        // The end marker is overwritten, as the reply is read as a
        // zero-terminated text.
        reply[line.EndOffset] = '\0';
#if defined(_WIN32)
        return platform::win32::FromSystemText(
            std::string(reply + line.TextOffset, line.TextLength));
#else
        return std::string(reply + line.TextOffset, line.TextLength);
#endif
    }
    case TReplyStatus::Unexpected:
        break;
    }
    RaiseClientError(ceUnexpectedOutput);
}

size_t TpFIBControlAndQueryService::ReadAvailableLines(std::vector<std::string>& lines) {
    if (FEndOfOutput) {
        return 0;
    }
    if (FActionCode == 0) {
        RaiseClientError(ceQueryParamsError);
    }
    // All the output the server holds, waiting at most OutputWaitSeconds
    // for some: so no line waits longer than that, and a caller gets control
    // back that often while the action works on without output.
    std::string send;
    TBlockWriter(send).Byte(isc_info_svc_timeout).Number16(4).Number32(OutputWaitSeconds);
    QueryItems().assign(1, static_cast<char>(isc_info_svc_to_eof));
    // A clean buffer each time: a reply cut short never ends in the marks
    // of an earlier one.
    FOutputBuffer.assign(OutputBufferSize, '\0');
    QueryService(send, FOutputBuffer);
    const TOutputReply reply = ParseOutputReply(FOutputBuffer.data(), FOutputBuffer.size());
    if (reply.Status == TReplyStatus::Unexpected) {
        RaiseClientError(ceUnexpectedOutput);
    }
    const std::string_view output(FOutputBuffer.data() + reply.TextOffset, reply.TextLength);
    size_t added = SplitOutputLines(FPartialLine, output, MaxText16Length, lines);
    if (reply.Status == TReplyStatus::EndOfOutput) {
        // A last line without its line end comes as it is, then the empty
        // line that the line query gives at the end.
        if (!FPartialLine.empty()) {
            lines.push_back(FPartialLine.substr(0, FPartialLine.find('\0')));
            FPartialLine.clear();
            ++added;
        }
        lines.emplace_back();
        ++added;
        FEndOfOutput = true;
    }
    return added;
}

// --- file lists ------------------------------------------------------------

namespace {

// One file per line, optionally "name=size"; blank lines are skipped and the
// line is used untrimmed.
template <typename AppendText, typename AppendNumber>
void AppendFileList(const rtl::TStringList& files, uint8_t fileCode, uint8_t sizeCode,
                    AppendText appendText, AppendNumber appendNumber) {
    for (const std::string& line : files.Lines()) {
        if (rtl::Trim(line).empty()) {
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            appendText(line, fileCode);
            continue;
        }
        appendText(line.substr(0, eq), fileCode);
        appendNumber(rtl::StrToInt(line.substr(eq + 1)), sizeCode);
    }
}

} // namespace

// --- TpFIBBackupService ----------------------------------------------------

void TpFIBBackupService::BuildStartItems() {
    if (FDatabaseName.empty()) {
        RaiseClientError(ceStartParamsError);
    }
    const uint32_t options = BackupOptionsWord(FOptions);
    SelectAction(isc_action_svc_backup);
    StartItems().assign(1, static_cast<char>(isc_action_svc_backup));
    AppendStartText(FDatabaseName, DbNameCode());
    AppendStartNumber(static_cast<int32_t>(options), OptionsCode());
    if (Verbose()) {
        StartItems().push_back(static_cast<char>(VerboseCode()));
    }
    if (FBlockingFactor > 0) {
        AppendStartNumber(FBlockingFactor, isc_spb_bkp_factor);
    }
    AppendFileList(
        FBackupFile, isc_spb_bkp_file, isc_spb_bkp_length,
        [this](const std::string& t, uint8_t c) { AppendStartText(t, c); },
        [this](int32_t v, uint8_t c) { AppendStartNumber(v, c); });
}

// --- TpFIBRestoreService ---------------------------------------------------

void TpFIBRestoreService::BuildStartItems() {
    const uint32_t options = RestoreOptionsWord(FOptions);
    SelectAction(isc_action_svc_restore);
    StartItems().assign(1, static_cast<char>(isc_action_svc_restore));
    AppendStartNumber(static_cast<int32_t>(options), OptionsCode());
    if (Verbose()) {
        StartItems().push_back(static_cast<char>(VerboseCode()));
    }
    if (!FFixCharset.empty()) {
        if (FOptions.Contains(TRestoreOption::FixFssMetadata)) {
            AppendStartText(FFixCharset, isc_spb_res_fix_fss_metadata);
        }
        if (FOptions.Contains(TRestoreOption::FixFssData)) {
            AppendStartText(FFixCharset, isc_spb_res_fix_fss_data);
        }
    }
    if (FPageSize > 0) {
        AppendStartNumber(FPageSize, isc_spb_res_page_size);
    }
    if (FPageBuffers > 0) {
        AppendStartNumber(FPageBuffers, isc_spb_res_buffers);
    }
    const auto text = [this](const std::string& t, uint8_t c) { AppendStartText(t, c); };
    const auto number = [this](int32_t v, uint8_t c) { AppendStartNumber(v, c); };
    AppendFileList(FBackupFile, isc_spb_bkp_file, isc_spb_bkp_length, text, number);
    AppendFileList(FDatabaseName, DbNameCode(), isc_spb_res_length, text, number);
}

} // namespace fib
