// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The commands of tolvane-batch besides process; each takes the arguments
// after its name and answers with the exit status (see the help text).

#include <QStringList>

namespace batch {

int RunAdd(const QStringList& args);
int RunScan(const QStringList& args);
int RunCheck(const QStringList& args);
int RunExport(const QStringList& args);
int RunSearch(const QStringList& args);
int RunOcr(const QStringList& args);

}  // namespace batch
