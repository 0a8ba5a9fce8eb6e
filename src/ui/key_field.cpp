#include "ui/key_field.h"

#include "ui/theme.h"

#include <algorithm>

namespace ui {

using namespace theme;

std::wstring KeyField::shownKey() const
{
    return capturing() ? std::wstring(L"Press key...") : keyText();
}

void KeyField::paint(Painter& painter, const ControlLook& look) const
{
    const bool on = capturing();
    painter.fillRoundRect(bounds, 4, on ? mix(kCanvas, kAccent, 0.12f) : mix(kCanvas, kPanel, look.hover * 0.6f));
    painter.frameRoundRect(bounds, 4, on ? kAccent : mix(kTrack, kBorder, look.hover), on ? 2.0f : 1.0f);
    const Rect inner = bounds.inset(10, 0);
    const std::wstring key = shownKey();
    const float keyWidth = std::min(painter.measureText(key, TextRole::Body).x, inner.w / 2);
    const Rect keyRect{inner.right() - keyWidth, inner.y, keyWidth, inner.h};
    const Rect labelRect{inner.x, inner.y, inner.w - keyWidth - 12, inner.h};
    painter.text(labelRect, fitted(painter, text(), TextRole::Body, labelRect.w), TextRole::Body, kText, Align::Left);
    painter.text(keyRect, fitted(painter, key, TextRole::Body, keyRect.w), TextRole::Body, on ? kAccent : kTextDim,
        Align::Right);
    if (look.focused)
        drawFocusRing(painter, bounds, 6);
}

uint64_t KeyField::state() const
{
    return std::hash<std::wstring>{}(shownKey()) * 2 + capturing();
}

bool statusShown(const std::wstring& text, double setAt, double now)
{
    return !text.empty() && now - setAt < Toast::kLifeSeconds;
}

} // namespace ui
