// Backup and restore through the real server's service manager.
#include <gtest/gtest.h>

#include "testsupport/FbTestEnv.h"
