// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The rows of one picture shared out among the machine's cores: a pass whose
// output rows depend only on its input (a resample, a table applied to every
// byte, a histogram per band added up afterwards) runs as bands of rows on a
// small pool of worker threads, the calling thread taking bands too. Bands
// only decide who computes a row, never what it holds, so the result is the
// same byte for byte at any number of threads.
//
// Small passes stay on the calling thread: waking the workers costs more than
// they would save there.

#include <cstddef>
#include <functional>

// Calls `band(first, last)` for disjoint ranges [first, last) that together
// cover [0, rows), on the pool's threads and on this one, and returns when
// all have returned. `work` is the pass's size (bytes read and written);
// below kRowBandSerialWork, or with one thread, it is one call on this
// thread. A band's exception is rethrown here once every band has ended (the
// first one thrown). Nested calls are fine: the caller always works through
// its own bands itself, so a call never waits on a worker that waits on it.
void ForRowBands(int rows, std::size_t work, const std::function<void(int first, int last)>& band);

// Below this many bytes a pass is not shared out.
inline constexpr std::size_t kRowBandSerialWork = std::size_t(1) << 19;

// The number of threads a pass uses, the calling one included: 0 (the
// default) one per core, 1 no workers. The pool grows to it when first asked;
// a worker that cannot be started leaves the pass to the threads there are.
void SetRowBandThreads(int threads);
int RowBandThreads();

// Two jobs side by side, one on a worker when there is one (else the one
// after the other on this thread); returns when both have. Exceptions as
// ForRowBands.
void RunSideBySide(const std::function<void()>& first, const std::function<void()>& second);
