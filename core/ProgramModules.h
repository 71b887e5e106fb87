// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Parts of the programs kept in modules of their own (loaded with dlopen
// when first needed), so that what does not need them starts without them
// and their libraries.

#include <QString>
#include <QStringList>

#include <functional>

// The folders a module is looked for in, in this order: share/tolvane
// beside the running program, as installed, then where the build put it.
QStringList ProgramModuleFolders();

// Loads the module `fileName` from the first of those folders whose copy
// loads and that `accept` takes (it looks up the module's entry points in
// the handle); never unloaded (RTLD_NODELETE), its symbols its own
// (RTLD_LOCAL). Null when none did, with `why`: "the <what> <fileName>
// cannot be loaded (...)", naming each reason or the folders looked in.
void* LoadProgramModule(const char* fileName, const QString& what, const std::function<bool(void*)>& accept,
                        QString* why);
