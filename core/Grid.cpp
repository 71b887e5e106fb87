// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Grid.h"

#include <algorithm>

int GridState::MarkedCount() const
{
    int n = 0;
    for (int i = 0; i < P && i < kMarkCount; ++i)
        n += marks[i] == '1';
    return n;
}

int32_t PageBackOne(int32_t T, int32_t P)
{
    return T > 0 ? T - 1 : T;
}

int32_t PageForwardOne(int32_t T, int32_t P)
{
    // Stops once the last page is in slot 3.
    return T + 4 < P ? T + 1 : T;
}

int32_t PageBackFour(int32_t T, int32_t P)
{
    return T < 4 ? 0 : T - 4;
}

int32_t PageForwardFour(int32_t T, int32_t P)
{
    // Moves by four while a full window of four remains after the move,
    // otherwise shows the last four pages.
    return T + 7 < P ? T + 4 : std::max(P - 4, 0);
}

int32_t LastFourStart(int32_t P)
{
    return std::max(P - 4, 0);
}

int32_t TurnedPage(int32_t index, int32_t pageTurn, int32_t count)
{
    if (count <= 0)
        return -1;
    if (pageTurn == 1)
        return std::clamp(index + 1, 0, count - 1);
    if (pageTurn == 2)
        return std::clamp(index - 1, 0, count - 1);
    return -1;
}
