#include "ui/layout.h"

namespace ui {

// A first placement until the pages arrive.
Rect pageTabRect(int page) { return {16.0f + 138.0f * static_cast<float>(page), 45.0f, 130.0f, 28.0f}; }

int subTabCount(int page) { return page == 1 ? 2 : page == 4 ? 5 : 0; }

Rect subTabRect(int page, int tab)
{
    return subTabCount(page) ? Rect{16.0f + 160.0f * static_cast<float>(tab), 84.0f, 150.0f, 24.0f} : Rect{};
}

} // namespace ui
