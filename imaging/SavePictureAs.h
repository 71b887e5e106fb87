// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Save the shown page as a file": the save dialog, the checks of name and
// colours, the write in the chosen format and the folder remembered for next
// time. The rules behind it are in core/SaveAs.h.

#include "core/SaveAs.h"
#include "imaging/ImageHandle.h"

class Prompt;
class QSettings;

// The colour class of a picture for saving: 24 bits → FullColour; 8 bits
// with the 256-entry grey ramp → Grey256; 4 or 8 bits whose colour table is
// all grey (red = green = blue) but not that ramp → GreyFewerLevels;
// anything else (1 bit, a coloured table, a null or malformed block) → Other.
SaveColour SaveColourOf(const ImageHandle& picture);

// How SavePictureAs ended.
enum class SavePictureResult {
    Cancelled,             // the dialog was cancelled; nothing shown, nothing written
    Saved,                 // written; LastSavePath holds its folder
    NeedsGrey256,          // refused with a message, nothing written
    NeedsFullColour,       // refused with a message, nothing written
    UnsupportedExtension,  // refused with a message, nothing written
    WriteFailed,           // the saver failed; a message, no file left behind
};

// Asks for a name in the save dialog, opened in the folder of the setting
// LastSavePath (empty: the working directory) with the first free "Image…"
// name there and the JPEG, BMP and TIFF filters, JPEG first; adds the chosen
// filter's extension to a name without one; writes the picture in the format
// its extension names (JPEG at the quality of `jpegMode`, see JpegQualityFor),
// overwriting an existing file without asking; and remembers the file's
// folder in LastSavePath. Every refusal and failure is told through `prompt`.
// The process's working directory is the same afterwards as before, however
// it ends.
SavePictureResult SavePictureAs(Prompt& prompt, QSettings& store, const ImageHandle& picture, int jpegMode);
