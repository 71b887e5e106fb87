// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch as started: `process` of a JPEG, TIFF or BMP file is done
// here, with Qt Core and the image layer's own readers only; everything else
// (every other command, the help, process of any other format) is in the
// module tolvane-batch-commands.so, loaded first. A process run is over in
// about the time two of the libraries the module needs (Qt Gui, poppler,
// SANE, ICU's collation) take to load, so it does without them.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchSupport.h"
#include "core/ArchiveFiles.h"
#include "core/ProgramModules.h"
#include "imaging/ImgKit.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

namespace {

using namespace batch;

constexpr char kCommandsModule[] = "tolvane-batch-commands.so";

using BatchMain = int (*)(int, char**);

// Loads the commands and runs them on the whole command line. Never
// unloaded: the commands' threads and exit handlers live to the end.
int RunCommands(int argc, char* argv[])
{
    BatchMain run = nullptr;
    QString why;
    LoadProgramModule(kCommandsModule, QStringLiteral("commands module"), [&](void* module) {
        run = reinterpret_cast<BatchMain>(::dlsym(module, "TolvaneBatchMain"));
        return run != nullptr;
    }, &why);
    if (run)
        return run(argc, argv);
    std::fprintf(stderr, "%s: %s\n", kProgram, why.toLocal8Bit().constData());
    return kExitFailure;
}

// Whether process can be done here: its input begins as a JPEG, TIFF or BMP
// file does. A command line with a usage error, or an input that cannot be
// opened, is handled here too: process reports it as the module would.
bool ProcessedHere(const QStringList& args)
{
    if (WantsHelp(args))
        return false;
    Arguments request;
    try {
        request = ParseArguments(args, ProcessingOptions());
    } catch (const UsageError&) {
        return true;
    }
    if (request.operands.size() != 3)
        return true;
    FileRead opened;
    const int fd = OpenArchiveFile(request.operands[0], opened, true);
    if (fd < 0)
        return true;
    uint8_t head[4];
    ssize_t n;
    do
        n = ::read(fd, head, sizeof head);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    return n <= 0 || ImgKitReadsItself(head, std::size_t(n));
}

ImageHandle LoadOwnFormat(const QString& path)
{
    return ImgKitFileLoadWith(path, ImgKitOwnFormatDecode);
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// In AddressSanitizer builds the loaded modules (Susie plug-ins, SANE
// backends) stay loaded until the process ends, so that a leak report names
// the module it came from and the suppressions can match it.
extern "C" int dlclose(void*)
{
    return 0;
}
#endif

int main(int argc, char* argv[])
{
    if (argc < 2 || std::strcmp(argv[1], "process") != 0)
        return RunCommands(argc, argv);
    // The commands module takes this application over when it is loaded.
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.remove(0, 2);
    if (!ProcessedHere(args))
        return RunCommands(argc, argv);
    return CommandDone(RunProcess(args, LoadOwnFormat));
}
