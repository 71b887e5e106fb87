// SPDX-License-Identifier: GPL-3.0-or-later
/* Preloaded into smbnetfs by the rig (SmbRig): makes a FUSE create with
 * O_EXCL exclusive on the file server, as a create from Windows
 * (CREATE_NEW) or from the Linux CIFS client is.
 *
 * smbnetfs 0.6.3 files a create through smbc_creat(url, mode), passing the
 * open flags of the create as the mode; smbc_creat opens with O_CREAT |
 * O_TRUNC and drops O_EXCL, so only the kernel's look-up before the create
 * stands between two workstations creating the same file: both can succeed,
 * the second truncating the first's file. Handing the flags to smbc_open
 * instead makes the server create the file only when it is not there. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/types.h>

typedef int (*OpenFn)(const char *, int, mode_t);

int smbc_creat(const char *url, mode_t flags)
{
    static OpenFn open_fn;
    if (!open_fn)
        open_fn = (OpenFn)dlsym(RTLD_NEXT, "smbc_open");
    if (!open_fn) {
        errno = ENOSYS;
        return -1;
    }
    return open_fn(url, (int)flags | O_CREAT, 0666);
}
