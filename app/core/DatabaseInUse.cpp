// Finding out whether a database file is held open: by a process this one can
// look into, or by the local database server.
#include "app/DatabaseInUse.h"

#include <exception>

#include "app/Commands.h"
#include "platform/Files.h"
#include "platform/Processes.h"

namespace app {

std::optional<fib::TServerDatabases> QueryServerDatabases(const std::string& serverName) {
    fib::TpFIBServerDatabasesService query;
    query.SetLoginPrompt(false);
    query.SetProtocol(fib::TProtocol::TCP);
    query.SetServerName(serverName);
    AddServiceAccount(query.Params());
    try {
        query.Attach();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    fib::TServerDatabases answer = query.Fetch();
    query.Detach();
    return answer;
}

TServerAnswer AskServerDatabaseInUse(const std::string& serverName, const std::string& path,
                                     const std::string& formerName) {
    std::optional<fib::TServerDatabases> answer;
    try {
        answer = QueryServerDatabases(serverName);
    } catch (const std::exception&) {
        return TServerAnswer::Unreadable;
    }
    if (!answer) {
        return TServerAnswer::NoAnswer;
    }
    for (const std::string& name : answer->Names) {
        if (name == path || (!formerName.empty() && name == formerName) ||
            platform::SameFile(name, path)) {
            return TServerAnswer::InUse;
        }
    }
    return TServerAnswer::NotInUse;
}

TFileUse DatabaseFileUse(const std::string& path, const std::string& formerName) {
    if (!platform::ProcessesHoldingFile(path).empty()) {
        return TFileUse::HeldByProcess;
    }
    switch (AskServerDatabaseInUse(LocalServer, path, formerName)) {
    case TServerAnswer::NotInUse:
    case TServerAnswer::NoAnswer:
        return TFileUse::Free;
    case TServerAnswer::InUse:
        return TFileUse::HeldByServer;
    case TServerAnswer::Unreadable:
        break;
    }
    return TFileUse::ServerAnswerUnreadable;
}

bool DatabaseFileInUse(const std::string& path, const std::string& formerName) {
    return DatabaseFileUse(path, formerName) != TFileUse::Free;
}

} // namespace app
