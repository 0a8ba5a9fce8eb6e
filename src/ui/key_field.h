#pragma once
// A key binding's field: what the binding does on the left, its key on the
// right, "Press key..." while it captures. A click (or Space/Enter) starts
// its capture, or cancels the one it runs; the keys that follow go to the
// capture before the window sees them.

#include "ui/toolkit.h"

#include <functional>
#include <string>

namespace ui {

class KeyField final : public Button {
public:
    std::function<std::wstring()> keyText;
    std::function<bool()> capturing;

    std::wstring shownKey() const;
    void paint(Painter& painter, const ControlLook& look) const override;
    uint64_t state() const override;
};

// A binding status line shows its text for as long as a toast does.
bool statusShown(const std::wstring& text, double setAt, double now);

} // namespace ui
