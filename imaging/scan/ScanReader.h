// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The read loop: one scan, every frame of it, straight into a DIB block.
//
// Frames: grey (depth 1 → 1-bit black and white, SANE's 1 being black;
// depth 8 and 16 → 8-bit grey), RGB (depth 1, 8 and 16 → 24-bit), and the
// separate red, green and blue frames of a three-pass scanner, each written
// into its colour of the one 24-bit block. Depth 16 keeps the high byte of
// each sample (SANE sends 16-bit samples in the host's byte order).
//
// When the line count is known the block is allocated once, before the first
// byte arrives, and rows land in it where they belong (the block is bottom-
// up); a scan costs the block plus one read buffer. For a large block a
// helper thread has the kernel fault its pages in ahead of the rows; it is
// stopped before ReadScan returns. A hand scanner does not know its line
// count (lines == -1): its rows are gathered as they come and turned into
// the block at the end.
//
// Whatever happens, sane_cancel ends the scan. The data must agree with the
// parameters: a frame that ends short, a frame with no data, bytes_per_line
// too small for pixels_per_line, frames of different sizes, an unknown frame
// format or depth → no image and SANE_STATUS_IO_ERROR (never a partly
// filled page).

#include "imaging/ImageHandle.h"

#include <QString>
#include <sane/sane.h>

#include <atomic>
#include <cstdint>
#include <functional>

namespace scan {

// What the loop reads from: an open SANE handle, or a test's own source.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual SANE_Status Start() = 0;
    virtual SANE_Status Parameters(SANE_Parameters& p) = 0;
    virtual SANE_Status Read(uint8_t* buffer, int maxLength, int* length) = 0;
    virtual void Cancel() = 0;
};

class SaneFrameSource : public FrameSource {
public:
    explicit SaneFrameSource(SANE_Handle h) : h_(h) {}
    SANE_Status Start() override { return sane_start(h_); }
    SANE_Status Parameters(SANE_Parameters& p) override { return sane_get_parameters(h_, &p); }
    SANE_Status Read(uint8_t* b, int n, int* len) override { return sane_read(h_, b, n, len); }
    // Waits (briefly) for a backend's reader to have begun before stopping
    // it: a reader thread stopped while it sets itself up can be caught
    // holding the allocator's lock, and the program then hangs at its end.
    void Cancel() override;

private:
    SANE_Handle h_;
};

struct ScanOutcome {
    ImageHandle image;  // null unless status is SANE_STATUS_GOOD
    SANE_Status status = SANE_STATUS_GOOD;
    QString detail;  // what went wrong, for the log
};

// Progress of the current frame: frame number (0…), bytes read, bytes
// expected (-1 when the line count is unknown). Called on the scan thread.
using ScanProgress = std::function<void(int frame, int64_t done, int64_t total)>;

// Runs one scan. `dpi` fills biXPelsPerMeter / biYPelsPerMeter (0 leaves
// them 0). When `cancel` becomes true the scan stops at the next read:
// sane_cancel, no image, SANE_STATUS_CANCELLED.
ScanOutcome ReadScan(FrameSource& source, double dpiX, double dpiY, const std::atomic<bool>* cancel = nullptr,
                     const ScanProgress& progress = {});

// Pixels per metre for a dpi, as the DIB header keeps them.
int32_t PelsPerMeter(double dpi);

}  // namespace scan
