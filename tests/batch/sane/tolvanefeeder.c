// SPDX-License-Identifier: GPL-3.0-or-later
/* A SANE backend of the tests' own, "tolvanefeeder": one grey scanner with a
 * flatbed and a document feeder, whose feeder jams at a set page. The SANE
 * test backend fails every scan alike; a scan that fails after pages were
 * filed needs this one. libsane's dll backend loads it from LD_LIBRARY_PATH
 * when a dll.conf names it (tests/scan/sane/feeder_jam).
 *
 * TOLVANEFEEDER_JAM_AT: the feeder page whose start answers
 * SANE_STATUS_JAMMED (default 3; 0 never); TOLVANEFEEDER_PAGES: the pages in
 * the feeder, after which a start answers SANE_STATUS_NO_DOCS (default 5).
 * Pages are 16 x 16 grey, mid grey. */
#include <sane/sane.h>
#include <sane/saneopts.h>

#include <stdlib.h>
#include <string.h>

#define WIDTH 16
#define HEIGHT 16

static const SANE_String_Const kSources[] = {"Flatbed", "ADF", NULL};
static SANE_Device kDevice = {"0", "Tolvane", "Feeder that jams", "virtual device"};
static const SANE_Device* kDevices[] = {&kDevice, NULL};

static SANE_Option_Descriptor kOptions[2];
static char g_source[32] = "Flatbed";
static int g_page = 0;       /* feeder pages started */
static int g_left = 0;       /* bytes of the current page still to read */
static int g_open = 0;

static int Setting(const char* name, int fallback)
{
    const char* v = getenv(name);
    return v ? atoi(v) : fallback;
}

SANE_Status sane_tolvanefeeder_init(SANE_Int* version, SANE_Auth_Callback auth)
{
    (void)auth;
    if (version)
        *version = SANE_VERSION_CODE(1, 0, 0);
    memset(kOptions, 0, sizeof kOptions);
    kOptions[0].name = SANE_NAME_NUM_OPTIONS;
    kOptions[0].title = SANE_TITLE_NUM_OPTIONS;
    kOptions[0].type = SANE_TYPE_INT;
    kOptions[0].size = sizeof(SANE_Word);
    kOptions[0].cap = SANE_CAP_SOFT_DETECT;
    kOptions[1].name = SANE_NAME_SCAN_SOURCE;
    kOptions[1].title = SANE_TITLE_SCAN_SOURCE;
    kOptions[1].type = SANE_TYPE_STRING;
    kOptions[1].size = sizeof g_source;
    kOptions[1].cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
    kOptions[1].constraint_type = SANE_CONSTRAINT_STRING_LIST;
    kOptions[1].constraint.string_list = kSources;
    return SANE_STATUS_GOOD;
}

void sane_tolvanefeeder_exit(void) {}

SANE_Status sane_tolvanefeeder_get_devices(const SANE_Device*** list, SANE_Bool local)
{
    (void)local;
    *list = kDevices;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_tolvanefeeder_open(SANE_String_Const name, SANE_Handle* h)
{
    if (name[0] && strcmp(name, kDevice.name) != 0)
        return SANE_STATUS_INVAL;
    g_open = 1;
    g_page = 0;
    strcpy(g_source, "Flatbed");
    *h = &g_open;
    return SANE_STATUS_GOOD;
}

void sane_tolvanefeeder_close(SANE_Handle h)
{
    (void)h;
    g_open = 0;
}

const SANE_Option_Descriptor* sane_tolvanefeeder_get_option_descriptor(SANE_Handle h, SANE_Int n)
{
    (void)h;
    return n >= 0 && n < 2 ? &kOptions[n] : NULL;
}

SANE_Status sane_tolvanefeeder_control_option(SANE_Handle h, SANE_Int n, SANE_Action a, void* v, SANE_Int* info)
{
    (void)h;
    if (info)
        *info = 0;
    if (n == 0 && a == SANE_ACTION_GET_VALUE) {
        *(SANE_Word*)v = 2;
        return SANE_STATUS_GOOD;
    }
    if (n != 1)
        return SANE_STATUS_INVAL;
    if (a == SANE_ACTION_GET_VALUE) {
        strcpy((char*)v, g_source);
        return SANE_STATUS_GOOD;
    }
    if (a == SANE_ACTION_SET_VALUE) {
        for (int i = 0; kSources[i]; ++i)
            if (strcmp((const char*)v, kSources[i]) == 0) {
                strcpy(g_source, kSources[i]);
                g_page = 0;
                return SANE_STATUS_GOOD;
            }
    }
    return SANE_STATUS_INVAL;
}

SANE_Status sane_tolvanefeeder_get_parameters(SANE_Handle h, SANE_Parameters* p)
{
    (void)h;
    p->format = SANE_FRAME_GRAY;
    p->last_frame = SANE_TRUE;
    p->bytes_per_line = WIDTH;
    p->pixels_per_line = WIDTH;
    p->lines = HEIGHT;
    p->depth = 8;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_tolvanefeeder_start(SANE_Handle h)
{
    (void)h;
    if (strcmp(g_source, "ADF") == 0) {
        ++g_page;
        if (g_page == Setting("TOLVANEFEEDER_JAM_AT", 3))
            return SANE_STATUS_JAMMED;
        if (g_page > Setting("TOLVANEFEEDER_PAGES", 5))
            return SANE_STATUS_NO_DOCS;
    }
    g_left = WIDTH * HEIGHT;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_tolvanefeeder_read(SANE_Handle h, SANE_Byte* data, SANE_Int max, SANE_Int* len)
{
    (void)h;
    *len = 0;
    if (g_left == 0)
        return SANE_STATUS_EOF;
    const int n = max < g_left ? max : g_left;
    memset(data, 128, (size_t)n);
    g_left -= n;
    *len = n;
    return SANE_STATUS_GOOD;
}

void sane_tolvanefeeder_cancel(SANE_Handle h)
{
    (void)h;
    g_left = 0;
}

SANE_Status sane_tolvanefeeder_set_io_mode(SANE_Handle h, SANE_Bool non_blocking)
{
    (void)h;
    return non_blocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

SANE_Status sane_tolvanefeeder_get_select_fd(SANE_Handle h, SANE_Int* fd)
{
    (void)h;
    (void)fd;
    return SANE_STATUS_UNSUPPORTED;
}
