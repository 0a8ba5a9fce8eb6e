#include "ui/toolkit.h"

#include "ui/theme.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ui {

using namespace theme;

FrameClock::Step FrameClock::advance(double nowSeconds)
{
    if (!started_) {
        started_ = true;
        last_ = nowSeconds;
        return {0.016, 16.0};
    }
    const double elapsed = std::max(0.0, nowSeconds - last_);
    last_ = nowSeconds;
    return {std::min(elapsed, 0.1), std::min(elapsed * 1000.0, 50.0)};
}

void Toast::set(std::wstring text, double nowSeconds, double life)
{
    text_ = std::move(text);
    setAt_ = nowSeconds;
    life_ = life;
}

double MicMeter::levelDb(int32_t peak)
{
    const double linear = static_cast<double>(peak) / 10000.0;
    return linear > 0.00001 ? 20.0 * std::log10(linear) : kFloorDb;
}

MicMeter::Look MicMeter::look() const
{
    auto units = [](double db) { return static_cast<int>(std::lround(std::clamp((db + 60.0) / 60.0, 0.0, 1.0) * kTrackUnits)); };
    Look l;
    l.bar = units(level_);
    l.peak = units(peak_);
    l.hot = level_ > -3.0;
    if (level_ > -99.5)
        l.db = static_cast<int>(std::lround(level_));
    return l;
}

void MicMeter::tick(double seconds, int32_t peak)
{
    const double target = levelDb(peak);
    if (target > level_)
        level_ += (1.0 - std::exp(-seconds / 0.012)) * (target - level_);
    else
        level_ = std::max(level_ - 26.0 * seconds, target);
    if (level_ >= peak_) {
        peak_ = level_;
        held_ = 0.0;
    } else {
        held_ += seconds;
        if (held_ > 0.9)
            peak_ = std::max(peak_ - 14.0 * seconds, level_);
    }
    sinceFrame_ += seconds;
    if (sinceFrame_ + 1e-9 < kFrameSeconds)
        return;
    sinceFrame_ = 0.0;
    shown_ = look();
}

bool Smoothed::advance(double seconds, double timeConstant, double snap)
{
    if (value == target)
        return false;
    value += (1.0 - std::exp(-seconds / timeConstant)) * (target - value);
    if (std::fabs(target - value) < snap)
        value = target;
    return true;
}

void drawFocusRing(Painter& painter, const Rect& r, float radius)
{
    painter.frameRoundRect(r.inset(-3, -3), radius + 3, kAccent, 2.0f);
}

void paintSection(Painter& painter, const Rect& r, std::wstring_view text)
{
    painter.text(r, text, TextRole::Heading, kText, Align::Left);
    painter.fillRect({r.x, r.bottom() + 2, r.w, 1}, kPanel);
}

std::wstring fitted(Painter& painter, std::wstring_view text, TextRole role, float width)
{
    if (painter.measureText(text, role).x <= width)
        return std::wstring(text);
    // Names from outside (setups, devices) can be longer than any box: keep
    // as much of the start as fits beside the ellipsis.
    size_t keep = text.size();
    std::wstring out;
    do {
        --keep;
        out = std::wstring(text.substr(0, keep)) + L"...";
    } while (keep > 0 && painter.measureText(out, role).x > width);
    return keep > 0 ? out : std::wstring();
}

namespace {

uint64_t textHash(std::wstring_view text, uint64_t h = 1469598103934665603ull)
{
    for (wchar_t c : text)
        h = (h ^ static_cast<uint64_t>(c)) * 1099511628211ull;
    return h;
}

// Every entry counts: a refresh may rename one row and keep the rest.
uint64_t textsHash(const std::vector<std::wstring>& texts)
{
    uint64_t h = 1469598103934665603ull;
    for (const auto& text : texts)
        h = textHash(text, h * 31 + 1);
    return h;
}

} // namespace

// --- Button -----------------------------------------------------------------

void Button::paint(Painter& painter, const ControlLook& look) const
{
    const bool on = enabled();
    const bool sel = selected();
    Colour fill = kCanvas, border = kTrack, ink = on ? kText : kDisabled;
    TextRole role = TextRole::Body;
    switch (style) {
    case ButtonStyle::Plain:
        fill = mix(kCanvas, kPanel, on ? look.hover * 0.6f + look.press * 0.4f : 0.0f);
        border = on ? kBorder : kTrack;
        break;
    case ButtonStyle::Primary:
        fill = on ? mix(kAccent, kText, look.press * 0.3f) : kPanel;
        border = fill;
        ink = on ? kWhite : kDisabled;
        break;
    case ButtonStyle::Tool:
        fill = mix(kPanel, kTrack, look.hover * 0.7f + look.press * 0.3f);
        border = fill;
        break;
    case ButtonStyle::Tab:
        role = sel ? TextRole::TabActive : TextRole::Tab;
        fill = sel ? kAccent : mix(kPanel, kTrack, look.hover * 0.6f + look.press * 0.4f);
        border = fill;
        ink = sel ? kWhite : kText;
        break;
    case ButtonStyle::Link: {
        const std::wstring caption = fitted(painter, text(), role, bounds.w);
        const Point size = painter.measureText(caption, role);
        painter.text(bounds, caption, role, on ? kAccent : kDisabled, Align::Left);
        if (on && look.hover > 0.0f) {
            const float under = bounds.y + (bounds.h + size.y) / 2;
            painter.fillRect({bounds.x, under, size.x, 1}, mix(kCanvas, kAccent, look.hover));
        }
        if (look.focused)
            drawFocusRing(painter, bounds, 4.0f);
        return;
    }
    }
    const float radius = style == ButtonStyle::Tab ? 6.0f : 4.0f;
    painter.fillRoundRect(bounds, radius, fill);
    if (border != fill)
        painter.frameRoundRect(bounds, radius, border, 1.0f);

    const std::wstring caption = text();
    Rect content = bounds.inset(style == ButtonStyle::Tab ? 4.0f : 6.0f, 0);
    if (icon) {
        const float side = std::min(16.0f, bounds.h - 6);
        const float labelWidth = caption.empty() ? 0.0f : painter.measureText(caption, role).x;
        const float total = side + (caption.empty() ? 0.0f : 6.0f + labelWidth);
        const float left = bounds.x + std::max(4.0f, (bounds.w - total) / 2);
        icon(painter, {left, bounds.y + (bounds.h - side) / 2, side, side}, ink);
        content = {left + side + 6, bounds.y, bounds.right() - (left + side + 6) - 4, bounds.h};
        if (!caption.empty())
            painter.text(content, fitted(painter, caption, role, content.w), role, ink, Align::Left);
    } else if (!caption.empty()) {
        // Tabs and tools with a long label step down to the small size first.
        if ((style == ButtonStyle::Tab || style == ButtonStyle::Tool)
            && painter.measureText(caption, role).x > content.w)
            role = TextRole::Small;
        painter.text(content, fitted(painter, caption, role, content.w), role, ink, Align::Centre);
    }
    if (style == ButtonStyle::Tab && !sel && look.hover > 0.0f)
        painter.fillRect({bounds.x + 8, bounds.bottom() - 3, bounds.w - 16, 2}, mix(kPanel, kAccentHot, look.hover));
    if (look.focused)
        drawFocusRing(painter, bounds, radius);
}

void Button::release(Point, bool inside)
{
    const bool clicked = down_ && inside && enabled();
    down_ = false;
    if (clicked && onClick)
        onClick();
}

bool Button::key(Key key, Modifiers)
{
    if ((key != Key::Space && key != Key::Enter) || !enabled())
        return false;
    if (onClick)
        onClick();
    return true;
}

uint64_t Button::state() const
{
    return textHash(text()) ^ (uint64_t{selected()} << 1) ^ (uint64_t{enabled()} << 2);
}

// --- Toggle -----------------------------------------------------------------

Toggle::Toggle(settings::Settings& settings, settings::FlagField settings::Settings::*field, std::wstring text)
    : Toggle(
          std::move(text), [&settings, field] { return (settings.*field).load() != 0; },
          [&settings, field](bool on) { settings.set(field, on ? 1 : 0); })
{ }

Toggle::Toggle(std::wstring text, std::function<bool()> read, std::function<void(bool)> write)
    : label(std::move(text)), read_(std::move(read)), write_(std::move(write))
{ }

bool Toggle::on() const
{
    return read_();
}

void Toggle::flip()
{
    if (!enabled())
        return;
    write_(!on());
    if (onChange)
        onChange();
}

void Toggle::paint(Painter& painter, const ControlLook& look) const
{
    const bool active = enabled();
    const bool value = on();
    // The switch: a 36 x 20 pill whose knob sits right when on.
    const Rect pill{bounds.x, bounds.y + (bounds.h - 20) / 2, 36, 20};
    Colour track = value ? (active ? mix(kAccent, kAccentHot, look.hover * 0.5f) : kDisabled)
                         : (active ? mix(kTrack, kBorder, look.hover * 0.4f) : kPanel);
    painter.fillRoundRect(pill, 10, track);
    if (!active)
        painter.frameRoundRect(pill, 10, kDisabled, 1.0f);
    const float knobX = value ? pill.right() - 18 : pill.x + 2;
    painter.fillEllipse({knobX, pill.y + 2, 16, 16}, active ? kWhite : kPanel);
    painter.text({pill.right() + 8, bounds.y, bounds.right() - pill.right() - 8, bounds.h}, label, TextRole::Body,
        active ? kText : kDisabled, Align::Left);
    if (look.focused)
        drawFocusRing(painter, bounds, 4);
}

void Toggle::release(Point, bool inside)
{
    if (inside)
        flip();
}

bool Toggle::key(Key key, Modifiers)
{
    if (key != Key::Space && key != Key::Enter)
        return false;
    flip();
    return true;
}

// --- Slider -----------------------------------------------------------------

Slider::Slider(settings::Settings& settings, settings::IntField settings::Settings::*field, std::wstring text)
    : label(std::move(text)), settings_(settings), field_(field)
{ }

int32_t Slider::value() const
{
    return (settings_.*field_).load();
}

void Slider::setValue(int64_t v)
{
    if (!enabled())
        return;
    const auto clamped = static_cast<int32_t>(std::clamp<int64_t>(v, minimum, maximum));
    if (onSet)
        onSet(clamped);
    else
        settings_.set(field_, clamped);
}

Rect Slider::track() const
{
    // The label row takes the top 20 units; the track row the rest. The
    // track is inset by the thumb's radius so that both ends can be reached.
    return {bounds.x + 9, bounds.y + 20, bounds.w - 18, bounds.h - 20};
}

float Slider::positionOf(int32_t v) const
{
    if (maximum <= minimum)
        return 0.0f;
    const double t = std::clamp(static_cast<double>(v - minimum) / (maximum - minimum), 0.0, 1.0);
    return static_cast<float>(scale == SliderScale::Square ? std::sqrt(t) : t);
}

int32_t Slider::valueAt(float x) const
{
    const Rect t = track();
    double pos = std::clamp(static_cast<double>(x - t.x) / std::max(1.0f, t.w), 0.0, 1.0);
    if (scale == SliderScale::Square)
        pos *= pos;
    const double raw = minimum + pos * (maximum - minimum);
    // Snap to the step so that a drag lands on the values the keys reach.
    const double snapped = minimum + std::round((raw - minimum) / step) * step;
    return static_cast<int32_t>(std::clamp(snapped, static_cast<double>(minimum), static_cast<double>(maximum)));
}

void Slider::paint(Painter& painter, const ControlLook& look) const
{
    const bool active = enabled();
    const int32_t v = value();
    const std::wstring shown = format ? format(v) : std::to_wstring(v);
    const float valueWidth = painter.measureText(shown, TextRole::Body).x;
    const Rect labelRow{bounds.x, bounds.y, bounds.w, 20};
    painter.text({labelRow.x, labelRow.y, labelRow.w - valueWidth - 8, labelRow.h}, label, TextRole::Body,
        active ? kText : kDisabled, Align::Left);
    painter.text({labelRow.right() - valueWidth, labelRow.y, valueWidth, labelRow.h}, shown, TextRole::Body,
        active ? kAccent : kDisabled, Align::Right);

    const Rect t = track();
    const float cy = t.y + t.h / 2;
    const Rect rail{t.x, cy - 3, t.w, 6};
    if (active) {
        painter.fillRoundRect(rail, 3, kTrack);
    } else {
        // A dashed rail: disabled reads as a different shape, not only a paler colour.
        for (float x0 = rail.x; x0 < rail.right(); x0 += 8)
            painter.fillRect({x0, rail.y + 1, std::min(4.0f, rail.right() - x0), rail.h - 2}, kDisabled);
    }
    const float x = t.x + positionOf(v) * t.w;
    if (active)
        painter.fillRoundRect({rail.x, rail.y, x - rail.x, rail.h}, 3, kAccent);
    const float grow = 2.0f * std::max(look.hover, look.press);
    const float r = 8.0f + grow;
    const Rect thumb{x - r, cy - r, 2 * r, 2 * r};
    painter.fillEllipse(thumb, active ? kWhite : kPanel);
    painter.frameEllipse(thumb, active ? mix(kAccent, kAccentHot, look.hover) : kDisabled, 2.0f);
    if (look.focused)
        drawFocusRing(painter, {bounds.x, t.y, bounds.w, t.h}, 4);
}

void Slider::press(Point p)
{
    dragging_ = true;
    setValue(valueAt(p.x));
}

void Slider::drag(Point p)
{
    if (dragging_)
        setValue(valueAt(p.x));
}

void Slider::doubleClick(Point)
{
    setValue(defaultValue);
}

bool Slider::wheel(float notches)
{
    setValue(value() + static_cast<int64_t>(std::lround(notches)) * step);
    return true;
}

bool Slider::key(Key key, Modifiers)
{
    switch (key) {
    case Key::Left:
    case Key::Down:
        setValue(int64_t{value()} - step);
        return true;
    case Key::Right:
    case Key::Up:
        setValue(int64_t{value()} + step);
        return true;
    case Key::PageDown:
        setValue(int64_t{value()} - pageStep);
        return true;
    case Key::PageUp:
        setValue(int64_t{value()} + pageStep);
        return true;
    case Key::Home:
        setValue(minimum);
        return true;
    case Key::End:
        setValue(maximum);
        return true;
    default:
        return false;
    }
}

// --- ListBox ----------------------------------------------------------------

Rect ListBox::rowsArea() const
{
    const float hint = caption ? 20.0f : 0.0f;
    const float rowsHeight = std::floor((bounds.h - hint - 2) / kRowHeight) * kRowHeight;
    return {bounds.x + 1, bounds.y + 1, bounds.w - 2, rowsHeight};
}

int ListBox::visibleRows() const
{
    return std::max(1, static_cast<int>(rowsArea().h / kRowHeight));
}

int ListBox::maxTop() const
{
    return std::max(0, static_cast<int>(rows.size()) - visibleRows());
}

void ListBox::setTop(int row, bool jump)
{
    top_ = std::clamp(row, 0, maxTop());
    scroll_.target = top_;
    if (jump)
        scroll_.value = top_;
}

void ListBox::ensureVisible(int row, bool jump)
{
    if (row < 0)
        return;
    if (row < top_)
        setTop(row, jump);
    else if (row >= top_ + visibleRows())
        setTop(row - visibleRows() + 1, jump);
    else if (jump)
        setTop(top_, true);
}

int ListBox::rowAt(Point p) const
{
    const Rect area = rowsArea();
    if (!area.contains(p))
        return -1;
    const int row = static_cast<int>(std::floor((p.y - area.y) / kRowHeight + scroll_.value));
    return row >= 0 && row < static_cast<int>(rows.size()) ? row : -1;
}

void ListBox::paint(Painter& painter, const ControlLook& look) const
{
    const bool active = enabled();
    painter.fillRoundRect(bounds, 4, kCanvas);
    painter.frameRoundRect(bounds, 4, active ? kTrack : kPanel, 1.0f);
    const Rect area = rowsArea();
    const int sel = selected ? selected() : -1;
    painter.pushClip(area);
    const int first = static_cast<int>(std::floor(scroll_.value));
    for (int row = first; row < static_cast<int>(rows.size()) && row <= first + visibleRows(); ++row) {
        const Rect r{area.x, area.y + static_cast<float>((row - scroll_.value) * kRowHeight), area.w, kRowHeight};
        const bool isSel = row == sel;
        if (isSel)
            painter.fillRect(r, active ? kAccent : kPanel);
        else if (row % 2)
            painter.fillRect(r, 0xF6F6F6);
        painter.text(r.inset(10, 0), fitted(painter, rows[row], TextRole::Body, r.w - 20), TextRole::Body,
            isSel && active ? kWhite : (active ? kText : kDisabled), Align::Left);
    }
    painter.popClip();
    // A thin scroll indicator when the rows do not all fit.
    if (maxTop() > 0) {
        const float span = area.h * visibleRows() / static_cast<float>(rows.size());
        const float y = area.y + static_cast<float>(scroll_.value / rows.size()) * area.h;
        painter.fillRoundRect({area.right() - 5, y + 2, 3, span - 4}, 1.5f, kTrack);
    }
    if (caption) {
        const std::wstring hint = caption();
        painter.text({bounds.x + 10, area.bottom() + 1, bounds.w - 20, bounds.bottom() - area.bottom() - 2}, hint,
            TextRole::Small, kTextDim, Align::Left);
    }
    if (look.focused)
        drawFocusRing(painter, bounds, 4);
}

void ListBox::press(Point p)
{
    const int row = rowAt(p);
    if (row >= 0 && enabled() && onSelect)
        onSelect(row);
}

bool ListBox::wheel(float notches)
{
    const int before = top_;
    setTop(top_ - static_cast<int>(std::lround(notches * 3)), false);
    if (top_ != before && onScroll)
        onScroll(top_);
    return true;
}

bool ListBox::key(Key key, Modifiers)
{
    const int count = static_cast<int>(rows.size());
    if (count == 0 || !enabled())
        return false;
    const int sel = selected ? selected() : -1;
    int next = sel;
    switch (key) {
    case Key::Up:
        next = std::max(0, sel - 1);
        break;
    case Key::Down:
        next = std::min(count - 1, sel + 1);
        break;
    case Key::PageUp:
        next = std::max(0, sel - visibleRows());
        break;
    case Key::PageDown:
        next = std::min(count - 1, sel + visibleRows());
        break;
    case Key::Home:
        next = 0;
        break;
    case Key::End:
        next = count - 1;
        break;
    default:
        return false;
    }
    if (next != sel && onSelect)
        onSelect(next);
    const int before = top_;
    ensureVisible(next, false);
    if (top_ != before && onScroll)
        onScroll(top_);
    return true;
}

bool ListBox::animate(double seconds)
{
    return scroll_.advance(seconds, kScrollTimeConstant, kScrollSnapRows);
}

uint64_t ListBox::state() const
{
    const uint64_t sel = static_cast<uint32_t>(selected ? selected() : -1);
    const uint64_t pos = static_cast<uint64_t>(std::llround(scroll_.value * 1000.0));
    return sel ^ (pos << 32) ^ (caption ? textHash(caption()) : 0) ^ textsHash(rows);
}

// --- DropDown ---------------------------------------------------------------

Rect DropDown::box() const
{
    return {bounds.x + labelWidth, bounds.y, bounds.w - labelWidth, bounds.h};
}

Rect DropDown::popup() const
{
    const Rect b = box();
    const int count = std::max<int>(1, static_cast<int>(items.size()));
    const float height = std::min(count, kMaxVisibleRows) * theme::kRowHeight + 2;
    // Below the box, or above it when the canvas ends first.
    const float y = b.bottom() + 2 + height <= kCanvasHeight - 8 ? b.bottom() + 2 : b.y - 2 - height;
    return {b.x, y, b.w, height};
}

void DropDown::open()
{
    if (!enabled())
        return;
    open_ = true;
    const int sel = selected ? selected() : -1;
    hover_ = sel;
    const int count = static_cast<int>(items.size());
    first_ = std::clamp(sel - kMaxVisibleRows / 2, 0, std::max(0, count - kMaxVisibleRows));
}

int DropDown::popupRowAt(Point p) const
{
    const Rect r = popup();
    if (!r.contains(p))
        return -1;
    const int row = first_ + static_cast<int>((p.y - r.y - 1) / theme::kRowHeight);
    return row >= 0 && row < static_cast<int>(items.size()) ? row : -1;
}

void DropDown::pick(int row)
{
    open_ = false;
    if (row >= 0 && row < static_cast<int>(items.size()) && onPick && row != (selected ? selected() : -1))
        onPick(row);
}

void DropDown::paint(Painter& painter, const ControlLook& look) const
{
    const bool active = enabled();
    if (labelWidth > 0)
        painter.text({bounds.x, bounds.y, labelWidth - 8, bounds.h}, label, TextRole::Body, active ? kText : kDisabled,
            Align::Left);
    const Rect b = box();
    painter.fillRoundRect(b, 4, active ? mix(kCanvas, kHover, look.hover) : kPanel);
    painter.frameRoundRect(b, 4, open_ ? kAccent : (active ? kBorder : kTrack), open_ ? 2.0f : 1.0f);
    const int sel = selected ? selected() : -1;
    const bool has = sel >= 0 && sel < static_cast<int>(items.size());
    painter.text({b.x + 8, b.y, b.w - 36, b.h}, fitted(painter, has ? items[sel] : emptyText, TextRole::Body, b.w - 36),
        TextRole::Body, active ? (has ? kText : kTextDim) : kDisabled, Align::Left);
    icons::chevronDown(painter, {b.right() - 24, b.y + (b.h - 12) / 2, 12, 12}, active ? kTextDim : kDisabled);
    if (look.focused)
        drawFocusRing(painter, b, 4);
}

void DropDown::paintOverlay(Painter& painter) const
{
    if (!open_)
        return;
    const Rect r = popup();
    // A soft shadow, then the list.
    painter.fillRoundRect({r.x + 2, r.y + 3, r.w, r.h}, 4, kPanel);
    painter.fillRoundRect(r, 4, kCanvas);
    painter.frameRoundRect(r, 4, kBorder, 1.0f);
    const int sel = selected ? selected() : -1;
    const int count = static_cast<int>(items.size());
    if (count == 0)
        painter.text({r.x + 8, r.y + 1, r.w - 16, theme::kRowHeight}, emptyText, TextRole::Body, kTextDim, Align::Left);
    for (int row = first_; row < count && row < first_ + kMaxVisibleRows; ++row) {
        const Rect rr{r.x + 1, r.y + 1 + (row - first_) * theme::kRowHeight, r.w - 2, theme::kRowHeight};
        const bool hot = row == hover_;
        if (hot)
            painter.fillRect(rr, kAccent);
        const TextRole role = row == sel ? TextRole::Heading : TextRole::Body;
        painter.text(
            rr.inset(8, 0), fitted(painter, items[row], role, rr.w - 16), role, hot ? kWhite : kText, Align::Left);
    }
}

void DropDown::press(Point)
{
    if (open_)
        close();
    else
        open();
}

void DropDown::popupMove(Point p)
{
    const int row = popupRowAt(p);
    if (row >= 0)
        hover_ = row;
}

void DropDown::popupPress(Point p)
{
    const int row = popupRowAt(p);
    if (row >= 0)
        pick(row);
    else
        open_ = false;
}

bool DropDown::wheel(float notches)
{
    const int count = static_cast<int>(items.size());
    if (open_) {
        first_ = std::clamp(first_ - static_cast<int>(std::lround(notches)), 0, std::max(0, count - kMaxVisibleRows));
        return true;
    }
    return false;
}

bool DropDown::key(Key key, Modifiers)
{
    const int count = static_cast<int>(items.size());
    if (!open_) {
        if (key == Key::Space || key == Key::Enter) {
            open();
            return open_;
        }
        if ((key == Key::Up || key == Key::Down) && count > 0 && enabled()) {
            const int sel = selected ? selected() : -1;
            const int next = std::clamp(sel + (key == Key::Down ? 1 : -1), 0, count - 1);
            if (next != sel && onPick)
                onPick(next);
            return true;
        }
        return false;
    }
    switch (key) {
    case Key::Escape:
        close();
        return true;
    case Key::Enter:
    case Key::Space:
        pick(hover_);
        return true;
    case Key::Up:
    case Key::Down:
    case Key::Home:
    case Key::End:
    case Key::PageUp:
    case Key::PageDown: {
        if (count == 0)
            return true;
        int next = hover_ < 0 ? 0 : hover_;
        if (key == Key::Up)
            next -= 1;
        else if (key == Key::Down)
            next += 1;
        else if (key == Key::PageUp)
            next -= kMaxVisibleRows;
        else if (key == Key::PageDown)
            next += kMaxVisibleRows;
        else
            next = key == Key::Home ? 0 : count - 1;
        hover_ = std::clamp(next, 0, count - 1);
        if (hover_ < first_)
            first_ = hover_;
        else if (hover_ >= first_ + kMaxVisibleRows)
            first_ = hover_ - kMaxVisibleRows + 1;
        return true;
    }
    default:
        return true; // an open pop-up keeps the keyboard
    }
}

uint64_t DropDown::state() const
{
    const uint64_t sel = static_cast<uint32_t>(selected ? selected() : -1);
    return sel ^ (uint64_t{open_} << 32) ^ (static_cast<uint64_t>(hover_ + 1) << 33)
        ^ (static_cast<uint64_t>(first_) << 48) ^ textsHash(items) ^ (static_cast<uint64_t>(items.size()) << 40);
}

// --- Icons ------------------------------------------------------------------

namespace icons {

namespace {
Point at(const Rect& r, float fx, float fy)
{
    return {r.x + r.w * fx, r.y + r.h * fy};
}

// An arc of radius fraction rf around the centre, from a0 to a1 (radians),
// ending in an arrow head.
void arcArrow(Painter& p, const Rect& r, Colour c, float a0, float a1)
{
    const Point centre = at(r, 0.5f, 0.5f);
    const float radius = std::min(r.w, r.h) * 0.36f;
    std::array<Point, 13> points;
    for (size_t i = 0; i < points.size(); ++i) {
        const float a = a0 + (a1 - a0) * static_cast<float>(i) / (points.size() - 1);
        points[i] = {centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)};
    }
    p.polyline(points, c, std::max(1.5f, r.w / 10));
    const Point tip = points.back();
    const float d = a1 > a0 ? 1.0f : -1.0f;
    const float ta = a1 + d * 1.5708f; // along the arc's direction
    const float s = r.w * 0.22f;
    const Point head[3] = {
        {tip.x + s * std::cos(ta), tip.y + s * std::sin(ta)},
        {tip.x + s * 0.8f * std::cos(a1), tip.y + s * 0.8f * std::sin(a1)},
        {tip.x - s * 0.8f * std::cos(a1), tip.y - s * 0.8f * std::sin(a1)},
    };
    p.fillPolygon(head, c);
}
} // namespace

void chevronLeft(Painter& p, const Rect& r, Colour c)
{
    const Point pts[3] = {at(r, 0.62f, 0.22f), at(r, 0.32f, 0.5f), at(r, 0.62f, 0.78f)};
    p.polyline(pts, c, 2.0f);
}

void chevronRight(Painter& p, const Rect& r, Colour c)
{
    const Point pts[3] = {at(r, 0.38f, 0.22f), at(r, 0.68f, 0.5f), at(r, 0.38f, 0.78f)};
    p.polyline(pts, c, 2.0f);
}

void chevronDown(Painter& p, const Rect& r, Colour c)
{
    const Point pts[3] = {at(r, 0.2f, 0.35f), at(r, 0.5f, 0.68f), at(r, 0.8f, 0.35f)};
    p.polyline(pts, c, 2.0f);
}

void minimise(Painter& p, const Rect& r, Colour c)
{
    p.line(at(r, 0.25f, 0.62f), at(r, 0.75f, 0.62f), c, 2.0f);
}

void close(Painter& p, const Rect& r, Colour c)
{
    p.line(at(r, 0.28f, 0.28f), at(r, 0.72f, 0.72f), c, 2.0f);
    p.line(at(r, 0.72f, 0.28f), at(r, 0.28f, 0.72f), c, 2.0f);
}

void reset(Painter& p, const Rect& r, Colour c)
{
    arcArrow(p, r, c, 3.4f, 3.4f + 4.9f);
}

void refresh(Painter& p, const Rect& r, Colour c)
{
    arcArrow(p, r, c, -2.9f, -0.35f);
    arcArrow(p, r, c, 0.25f, 2.8f);
}

void grid(Painter& p, const Rect& r, Colour c)
{
    const float cell = std::min(r.w, r.h) / 3.4f;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            p.fillRoundRect({r.x + col * cell * 1.2f, r.y + row * cell * 1.2f, cell, cell}, 1.0f, c);
}

void sliders(Painter& p, const Rect& r, Colour c)
{
    const float knobs[3] = {0.3f, 0.65f, 0.45f};
    for (int i = 0; i < 3; ++i) {
        const float x = r.x + r.w * (0.2f + 0.3f * i);
        p.line({x, r.y + r.h * 0.12f}, {x, r.y + r.h * 0.88f}, c, 1.5f);
        const float y = r.y + r.h * knobs[i];
        p.fillRect({x - r.w * 0.12f, y - r.h * 0.08f, r.w * 0.24f, r.h * 0.16f}, c);
    }
}

void help(Painter& p, const Rect& r, Colour c)
{
    p.frameEllipse(r.inset(r.w * 0.08f, r.h * 0.08f), c, 1.5f);
    p.text(r, L"?", TextRole::Small, c, Align::Centre);
}

} // namespace icons

// Greedy, one word at a time.
std::vector<std::wstring> wrapLines(Painter& painter, std::wstring_view text, TextRole role, float width)
{
    std::vector<std::wstring> lines;
    std::wstring line;
    size_t i = 0;
    while (i < text.size()) {
        const size_t space = text.find(L' ', i);
        const size_t end = space == std::wstring_view::npos ? text.size() : space;
        const std::wstring word(text.substr(i, end - i));
        const std::wstring tryLine = line.empty() ? word : line + L" " + word;
        if (!line.empty() && painter.measureText(tryLine, role).x > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = tryLine;
        }
        i = end + 1;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

// --- Tooltips ---------------------------------------------------------------

namespace {

constexpr float kTipPad = 6.0f;

} // namespace

Rect tooltipRect(Painter& painter, std::wstring_view text, Point pointer)
{
    const auto lines = wrapLines(painter, text, TextRole::Small, kTipMaxWidth - 2 * kTipPad);
    float width = 0, lineHeight = painter.measureText(L"Ag", TextRole::Small).y;
    for (const auto& line : lines)
        width = std::max(width, painter.measureText(line, TextRole::Small).x);
    const Rect r{0, 0, std::min(kTipMaxWidth, width + 2 * kTipPad), lines.size() * lineHeight + 2 * kTipPad};
    const float x = std::clamp(pointer.x + 4, 4.0f, kCanvasWidth - 4 - r.w);
    float y = pointer.y + 20;
    if (y + r.h > kCanvasHeight - 4)
        y = pointer.y - 8 - r.h;
    return {x, y, r.w, r.h};
}

void paintTooltip(Painter& painter, std::wstring_view text, const Rect& r)
{
    painter.fillRect(r, kTipBack);
    painter.frameRoundRect(r, 0, kTipFrame, 1.0f);
    const auto lines = wrapLines(painter, text, TextRole::Small, kTipMaxWidth - 2 * kTipPad);
    const float lineHeight = painter.measureText(L"Ag", TextRole::Small).y;
    float y = r.y + kTipPad;
    for (const auto& line : lines) {
        painter.text({r.x + kTipPad, y, r.w - 2 * kTipPad, lineHeight}, line, TextRole::Small, kTipText, Align::Left);
        y += lineHeight;
    }
}

} // namespace ui
