// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The commands of tolvane-batch besides process; each takes the arguments
// after its name and answers with the exit status (see the help text).

#include "imaging/ImageHandle.h"

#include <QString>
#include <QStringList>

namespace batch {

// process, with the image file read by `load`: ImgKitFileLoad, or in the
// starter (which has no Qt Gui) ImgKitFileLoadWith the layer's own readers.
int RunProcess(const QStringList& args, ImageHandle (*load)(const QString&));

int RunAdd(const QStringList& args);
int RunScan(const QStringList& args);
int RunCheck(const QStringList& args);
int RunExport(const QStringList& args);
int RunSearch(const QStringList& args);
int RunOcr(const QStringList& args);

}  // namespace batch
