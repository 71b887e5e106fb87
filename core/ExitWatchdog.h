// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The end of a program whose work is done: what runs after main returns
// (static destructors, the exit handlers of libraries, a scanner backend's
// shutdown) can no longer lose anything, but it can hang. A backend that
// stops its reader thread with an asynchronous cancel now and then leaves
// a lock held by a thread that is gone, and the process would wait at its
// end for ever.

// Ends the process with `status` (without exit handlers) when it is still
// there `seconds` from now. Called once the work is written and its output
// flushed; an ordinary end is not held up.
void EndWithin(int status, int seconds);
