// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Parts of the programs kept in modules of their own (loaded with dlopen
// when first needed), so that what does not need them starts without them
// and their libraries.

#include <QString>
#include <QStringList>

// The folders a module is looked for in, in this order: share/tolvane
// beside the running program, as installed, then where the build put it.
QStringList ProgramModuleFolders();
