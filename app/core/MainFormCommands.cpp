// The window's three commands: backup, restore and make-server. Placeholders
// until the commands are written; each does nothing yet.
#include "app/MainForm.h"

namespace app {

void TmainForm::btnBackupDBClick(IWidget* /*Sender*/) {}

void TmainForm::RestoreDB(bool /*AsServer*/) {}

void TmainForm::btnRestoreDBClick(IWidget* /*Sender*/) {
    RestoreDB(false);
}

void TmainForm::btnChangeServerClick(IWidget* /*Sender*/) {}

} // namespace app
