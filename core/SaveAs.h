// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The rules of "save the shown page as a file": the name the save dialog
// proposes, the extension a typed name gets from the chosen filter, and which
// format (or which refusal) the resulting name and the picture's colours give.
// The dialog and the writing itself are in imaging/SavePictureAs.h.

#include <QString>

// The first free name "Image001", "Image002", ... "Image999", "Image1000", ...
// in the folder: free when no entry of the folder (file, folder or anything
// else, hidden ones included) is named so or so + "." + anything, letters
// compared in any case, so the name is also free on a case-insensitive share.
// An empty folder means the process's working directory (where the save
// dialog opens). A folder that cannot be listed gives "Image001". The search
// ends at "Image100000", which is then returned whether free or not.
QString ProposeSaveName(const QString& folder);

// The extension of a path: its file name (never the folders above it) from
// the last dot on, ".jpg" for "a.b/scan.jpg"; empty when the file name has no
// dot.
QString FileNameExtension(const QString& path);

// The chosen name with the extension of the save dialog's filter added when
// its file name has none: ".jpg", ".bmp" or ".tif" for filter 0, 1 or 2. Any
// other filter, or a name that has an extension (in any case, of any kind),
// leaves it as it is.
QString WithFilterExtension(const QString& chosenName, int filterIndex);

// What the picture's colours allow for JPEG.
enum class SaveColour {
    FullColour,       // 24 bits
    Grey256,          // 8 bits with the 256-entry grey ramp
    GreyFewerLevels,  // a 4- or 8-bit grey table that is not the full ramp
    Other,            // 1 bit, a coloured table, or no usable image
};

// The format a name is written in, or why it is not written.
enum class SaveKind {
    Jpeg,
    Bmp,
    Tiff,
    NeedsGrey256,          // JPEG asked for a grey picture with fewer levels
    NeedsFullColour,       // JPEG asked for a picture that is neither
    UnsupportedExtension,  // anything but the five extensions below
};

// The kind for the extension of `path`, compared exactly, letter case
// included: ".jpg" and ".jpeg" JPEG (FullColour and Grey256 pictures only),
// ".bmp" BMP, ".tif" and ".tiff" TIFF; ".JPG", ".png", no extension and every
// other one are unsupported.
SaveKind SaveKindFor(const QString& path, SaveColour colour);
