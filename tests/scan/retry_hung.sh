#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a scan test program; a run that hangs (stopped after 60 s) is run again,
# at most three times. Any other outcome is the program's own.
for attempt in 1 2 3; do
    timeout 60 "$@"
    rc=$?
    [ "$rc" -ne 124 ] && exit "$rc"
    echo "run $attempt hung in the SANE backend; again" >&2
done
exit 124
