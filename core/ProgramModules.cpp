// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ProgramModules.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

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

void* LoadProgramModule(const char* fileName, const QString& what, const std::function<bool(void*)>& accept,
                        QString* why)
{
    QStringList tried;
    for (const QString& folder : ProgramModuleFolders()) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(fileName);
        if (!QFileInfo(path).isFile())
            continue;
        void* module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!module) {
            tried << QString::fromLocal8Bit(::dlerror());
            continue;
        }
        if (accept(module))
            return module;
        tried << QStringLiteral("%1 is not the %2").arg(path, what);
    }
    if (why)
        *why = QStringLiteral("The %1 %2 cannot be loaded (%3)")
                   .arg(what, QLatin1String(fileName),
                        tried.isEmpty() ? QStringLiteral("not found in %1").arg(ProgramModuleFolders().join(u", "))
                                        : tried.join(u"; "));
    return nullptr;
}
