// The headless widgets under their former name, for the command tests that
// still include them so; they include "testsupport/HeadlessWidgets.h" once
// they are renamed, and this file goes.
#pragma once

#include "testsupport/HeadlessWidgets.h"
