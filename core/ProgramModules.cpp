// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ProgramModules.h"

#include <QFileInfo>

QStringList ProgramModuleFolders()
{
    QStringList folders;
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!program.isEmpty())
        folders << QFileInfo(program).path() + QStringLiteral("/share/tolvane");
#ifdef TOLVANE_MODULE_BUILD_DIR
    folders << QStringLiteral(TOLVANE_MODULE_BUILD_DIR);
#endif
    return folders;
}
