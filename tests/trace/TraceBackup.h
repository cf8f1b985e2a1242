// A real backup through the service components, as the window runs it, for
// the trace tests that need the test server.
#pragma once

#include <string>
#include <vector>

#include "services/IB_Services.h"
#include "testsupport/FbTestEnv.h"

namespace tracetest {

// Backs the database up into backupFile through "pFIBBackupService1" with
// verbose output; returns the number of output lines read.
inline int RunTracedBackup(const std::string& database, const std::string& backupFile) {
    fib::TpFIBBackupService backup;
    backup.SetName("pFIBBackupService1");
    backup.SetLoginPrompt(false);
    backup.SetProtocol(fib::TProtocol::TCP);
    backup.SetServerName(slvtest::ServerHost());
    backup.Params().Assign(std::vector<std::string>{"user_name=" + slvtest::ServerUser(),
                                                    "password=" + slvtest::ServerPassword()});
    backup.SetDatabaseName(database);
    backup.BackupFile().Add(backupFile);
    backup.SetVerbose(true);
    backup.Attach();
    backup.ServiceStart();
    int lines = 0;
    while (!backup.EndOfOutput()) {
        backup.ReadNextLine();
        ++lines;
    }
    backup.Detach();
    return lines;
}

} // namespace tracetest
