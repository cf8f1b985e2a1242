// Solvane Database Maintenance.
#include "gui/Application.h"

int main(int argc, char* argv[]) {
    return gui::RunMaintenanceWindow(argc, argv);
}
