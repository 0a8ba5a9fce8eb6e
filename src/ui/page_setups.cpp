// Page 4, "Media & Recorder", its Setups & Hotkeys tab: the saved setups
// (the current one, previous and next, save, delete, and the list, where a
// click loads a setup) and the ten action hotkeys, each row starting or
// cancelling its key capture, with the tab's status line.

#include "settings/setup_files.h"
#include "soundboard/hotkeys.h"
#include "ui/key_field.h"
#include "ui/main_window_impl.h"
#include "ui/theme.h"

#include <algorithm>
#include <cmath>

namespace ui {

using namespace theme;

namespace {

constexpr int kSetupsTab = 4;
constexpr Rect kSetupsHeading{kLeftX, kContentTop, kSetupsW, 24};
constexpr Rect kHotkeysHeading{kHotkeysX, kContentTop, kHotkeysW, 24};
constexpr wchar_t kHotkeysHeadingText[] = L"Global Hotkeys (Click Row, Esc Cancels, Backspace Clears)";

// The saved setups, eight rows of 23 units at a time; the wheel scrolls by
// rows, a click loads the row's setup, the current setup is marked.
// Up/Down move a keyboard cursor that Enter or Space loads.
class SetupList final : public Control {
public:
    settings::Setups* setups = nullptr;
    std::function<void(const std::wstring&)> onLoad;

    const std::vector<std::wstring>& names() const
    {
        static const std::vector<std::wstring> none;
        return setups ? setups->setupList() : none;
    }
    int count() const { return static_cast<int>(names().size()); }
    int maxTop() const { return std::max(0, count() - kSetupRowsShown); }
    int top() const { return std::clamp(top_, 0, maxTop()); }
    Rect rowsArea() const { return bounds.inset(1, 1); }
    int rowAt(Point p) const
    {
        const Rect area = rowsArea();
        if (!area.contains(p))
            return -1;
        const int row = top() + static_cast<int>(std::floor((p.y - area.y) / kSetupRowHeight));
        return row < count() ? row : -1;
    }

    void paint(Painter& painter, const ControlLook& look) const override
    {
        painter.fillRoundRect(bounds, 4, kCanvas);
        painter.frameRoundRect(bounds, 4, kTrack, 1.0f);
        const Rect area = rowsArea();
        const auto& list = names();
        if (list.empty()) {
            painter.text(area, L"Click Save... to store current setup", TextRole::Body, kTextDim, Align::Centre);
        } else {
            const std::wstring current = setups->currentSetup();
            for (int i = 0; i < kSetupRowsShown && top() + i < count(); ++i) {
                const int row = top() + i;
                const Rect r{area.x, area.y + static_cast<float>(i) * kSetupRowHeight, area.w, kSetupRowHeight};
                const bool isCurrent = list[row] == current;
                if (isCurrent)
                    painter.fillRect(r, kAccent);
                else if (row % 2)
                    painter.fillRect(r, 0xF6F6F6);
                painter.text(r.inset(10, 0), fitted(painter, list[row], TextRole::Body, r.w - 20), TextRole::Body,
                    isCurrent ? kWhite : kText, Align::Left);
                if (look.focused && row == cursor_)
                    painter.frameRoundRect(r.inset(2, 2), 2, isCurrent ? kWhite : kAccent, 1.0f);
            }
            if (maxTop() > 0) {
                const float span = area.h * kSetupRowsShown / static_cast<float>(count());
                const float y = area.y + area.h * static_cast<float>(top()) / static_cast<float>(count());
                painter.fillRoundRect({area.right() - 5, y + 2, 3, span - 4}, 1.5f, kTrack);
            }
        }
        if (look.focused)
            drawFocusRing(painter, bounds, 4);
    }
    void press(Point p) override
    {
        const int row = rowAt(p);
        if (row < 0)
            return;
        cursor_ = row;
        onLoad(names()[row]);
    }
    bool wheel(float notches) override
    {
        const int before = top();
        top_ = std::clamp(top() - static_cast<int>(std::lround(notches)), 0, maxTop());
        return top_ != before;
    }
    bool key(Key key, Modifiers) override
    {
        if (count() == 0)
            return false;
        if (key == Key::Enter || key == Key::Space) {
            if (cursor_ >= 0 && cursor_ < count())
                onLoad(names()[cursor_]);
            return cursor_ >= 0;
        }
        int to = cursor_;
        switch (key) {
        case Key::Up:
            to = cursor_ < 0 ? 0 : cursor_ - 1;
            break;
        case Key::Down:
            to = cursor_ + 1;
            break;
        case Key::PageUp:
            to = cursor_ - kSetupRowsShown;
            break;
        case Key::PageDown:
            to = cursor_ + kSetupRowsShown;
            break;
        case Key::Home:
            to = 0;
            break;
        case Key::End:
            to = count() - 1;
            break;
        default:
            return false;
        }
        cursor_ = std::clamp(to, 0, count() - 1);
        if (cursor_ < top())
            top_ = cursor_;
        else if (cursor_ >= top() + kSetupRowsShown)
            top_ = cursor_ - kSetupRowsShown + 1;
        return true;
    }
    uint64_t state() const override
    {
        const std::hash<std::wstring> hash;
        uint64_t h = hash(setups ? setups->currentSetup() : std::wstring());
        for (const auto& name : names())
            h = h * 31 + hash(name);
        return h ^ (static_cast<uint64_t>(top()) << 40) ^ (static_cast<uint64_t>(cursor_ + 1) << 52);
    }

private:
    int top_ = 0;
    int cursor_ = -1;
};

} // namespace

void MainWindow::Impl::buildSetupsTab()
{
    constexpr int P = 4, T = kSetupsTab;
    const auto hasSetups = [this] { return services.setups != nullptr; };
    Button* prev = addButton(P, T, L"", kSetupPrevRect, L"Load the previous saved setup", [this] { cycle(-1); });
    prev->icon = icons::chevronLeft;
    prev->isEnabled = hasSetups;
    Button* next = addButton(P, T, L"", kSetupNextRect, L"Load the next saved setup", [this] { cycle(1); });
    next->icon = icons::chevronRight;
    next->isEnabled = hasSetups;
    Button* save = addButton(
        P, T, L"Save...", kSetupSaveRect, L"Save the current settings as a named setup", [this] { saveSetupAs(); });
    save->isEnabled = hasSetups;
    Button* remove = addButton(P, T, L"Delete", kSetupDeleteRect, L"Delete the current setup's file", [this] {
        services.setups->deleteCurrentSetup();
        refresh(true);
    });
    remove->isEnabled = [this] { return services.setups && !services.setups->currentSetup().empty(); };

    auto list = std::make_unique<SetupList>();
    list->bounds = kSetupListRect;
    list->tooltip = L"Click a setup to load it (the wheel scrolls)";
    list->setups = services.setups;
    list->onLoad = [this](const std::wstring& name) {
        if (auto a = services.setups->loadSetup(name, setupEnvironment()))
            applied(*a, true);
    };
    add(pages[P], std::move(list), T);

    soundboard::Hotkeys& hotkeys = console.hotkeys();
    for (int row = 0; row < soundboard::kActionCount; ++row) {
        const soundboard::CaptureTarget target{soundboard::CaptureKind::Action, row};
        auto field = std::make_unique<KeyField>();
        field->bounds = hotkeyRowRect(row);
        field->label = std::wstring(soundboard::kHotkeyActions[static_cast<size_t>(row)].description);
        field->tooltip = L"Click, then press the keys for \""
            + std::wstring(soundboard::kHotkeyActions[static_cast<size_t>(row)].label) + L"\"";
        field->keyText = [&hotkeys, row] { return hotkeys.keyText(hotkeys.actionCode(row)); };
        field->capturing = [&hotkeys, target] { return hotkeys.capture() == target; };
        field->onClick = [this, &hotkeys, target] {
            hotkeys.startCapture(target);
            refresh();
        };
        add(pages[P], std::move(field), T);
    }
}

void MainWindow::Impl::paintSetupsTab(Painter& painter) const
{
    paintSection(painter, kSetupsHeading, L"Saved Ovix Console Setups");
    paintSection(painter, kHotkeysHeading, kHotkeysHeadingText);
    const std::wstring current = services.setups ? services.setups->currentSetup() : std::wstring();
    const float labelW = painter.measureText(L"Current:", TextRole::Body).x;
    painter.text({kSetupNameRect.x, kSetupNameRect.y, labelW, kSetupNameRect.h}, L"Current:", TextRole::Body, kTextDim,
        Align::Left);
    const Rect nameRect{
        kSetupNameRect.x + labelW + 8, kSetupNameRect.y, kSetupNameRect.w - labelW - 8, kSetupNameRect.h};
    painter.text(nameRect, fitted(painter, current.empty() ? L"(unsaved)" : current, TextRole::Body, nameRect.w),
        TextRole::Body, current.empty() ? kTextDim : kText, Align::Left);
    const soundboard::StatusLine& status = console.hotkeys().hotkeysStatus();
    if (statusShown(status.text, status.time, now()))
        painter.text(kSetupsStatusRect, fitted(painter, status.text, TextRole::Body, kSetupsStatusRect.w),
            TextRole::Body, kText, Align::Left);
}

void MainWindow::Impl::setupsTabRegions(std::vector<Region>& out) const
{
    const std::hash<std::wstring> hash;
    out.push_back({kSetupNameRect, hash(services.setups ? services.setups->currentSetup() : std::wstring())});
    const soundboard::StatusLine& status = console.hotkeys().hotkeysStatus();
    out.push_back({kSetupsStatusRect, uint64_t{status.serial} * 2 + statusShown(status.text, status.time, now())});
}

} // namespace ui
