// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The four-page grid: which pages are on screen, which one was clicked, and
// the paging rules of the four paging buttons and the mouse wheel.

#include <array>
#include <cstdint>

inline constexpr int kGridSlots = 4;
inline constexpr int kMarkCount = 1000;

struct GridState {
    int32_t P = 0;   // page count of the current category
    int32_t T = 0;   // index of the page in slot 0
    int32_t K = -1;  // clicked page, -1 for none
    std::array<char, kMarkCount> marks{};  // '1' where a page's check box is set

    void ClearMarks() { marks.fill(0); }
    bool Marked(int index) const { return index >= 0 && index < kMarkCount && marks[index] == '1'; }
    void SetMark(int index, bool on)
    {
        if (index >= 0 && index < kMarkCount)
            marks[index] = on ? '1' : 0;
    }
    // Marks among pages 0 .. P-1.
    int MarkedCount() const;
    // Whether slot s shows a page.
    bool SlotHasPage(int s) const { return T + s < P; }
};

// The first shown index after each paging step. Each returns T unchanged
// when the step does not move.
int32_t PageBackOne(int32_t T, int32_t P);
int32_t PageForwardOne(int32_t T, int32_t P);
int32_t PageBackFour(int32_t T, int32_t P);
int32_t PageForwardFour(int32_t T, int32_t P);

// The first shown index that puts the last four pages on display.
int32_t LastFourStart(int32_t P);

// The page the viewer shows after a showing that ended with `pageTurn`
// (1 next, 2 previous) on page `index` of `count`: one further, kept within
// 0 … count - 1, so turning past either end shows the same page again. -1
// when the showing asked for no turn (viewing ends).
int32_t TurnedPage(int32_t index, int32_t pageTurn, int32_t count);
