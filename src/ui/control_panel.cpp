#include "ui/control_panel.h"

#include <algorithm>

namespace ui {

namespace {
constexpr double kHoverTimeConstant = 0.06;
constexpr double kTipDelay = 0.5;
} // namespace

void ControlPanel::adopt(std::vector<std::unique_ptr<Control>> controls)
{
    for (auto& c : controls)
        controls_.push_back({std::move(c), {}, {}});
}

Control* ControlPanel::at(Point p) const
{
    for (const Entry& e : controls_)
        if (e.control->hit(p))
            return e.control.get();
    return nullptr;
}

bool ControlPanel::tooltipShown() const
{
    return hot_ && !hot_->tooltip.empty() && settings_.UiHints.load() && !captured_ && !tipBlocked_
        && hoverSeconds_ >= kTipDelay;
}

uint64_t ControlPanel::signature() const
{
    uint64_t h = 1469598103934665603ull;
    auto fold = [&h](uint64_t v) { h = (h ^ v) * 1099511628211ull; };
    for (const Entry& e : controls_) {
        fold(e.control->state());
        fold(e.control->enabled());
        fold(static_cast<uint64_t>(e.hover.value * 1000.0));
        fold(static_cast<uint64_t>(e.press.value * 1000.0));
        fold(e.control.get() == focused_ && focusShown_);
    }
    fold(tooltipShown() ? reinterpret_cast<uintptr_t>(hot_) : 0);
    return h;
}

void ControlPanel::paint(Painter& painter)
{
    for (const Entry& e : controls_)
        e.control->paint(painter,
            {static_cast<float>(e.hover.value), static_cast<float>(e.press.value),
                e.control.get() == focused_ && focusShown_});
    if (tooltipShown()) {
        // Kept inside the small window: a tip near its edge moves in.
        Rect r = tooltipRect(painter, hot_->tooltip, pointer_);
        if (r.bottom() > canvas_.y - 4)
            r.y = pointer_.y - 8 - r.h;
        r.x = std::clamp(r.x, 4.0f, std::max(4.0f, canvas_.x - r.w - 4));
        r.y = std::clamp(r.y, 4.0f, std::max(4.0f, canvas_.y - r.h - 4));
        paintTooltip(painter, hot_->tooltip, r);
    }
    drawn_ = signature();
}

void ControlPanel::pointerMove(Point p)
{
    if (captured_)
        captured_->drag(p);
    Control* over = captured_ ? captured_ : at(p);
    if (over != hot_ || p.x != pointer_.x || p.y != pointer_.y) {
        hoverSeconds_ = 0.0;
        tipBlocked_ = false;
    }
    hot_ = over;
    pointer_ = p;
}

void ControlPanel::pointerDown(Point p)
{
    pointer_ = p;
    tipBlocked_ = true;
    Control* c = at(p);
    if (c && c->enabled()) {
        if (c->focusable())
            focused_ = c;
        focusShown_ = false;
        captured_ = c;
        c->press(p);
    }
}

void ControlPanel::pointerUp(Point p)
{
    if (Control* c = captured_) {
        captured_ = nullptr;
        c->release(p, c->hit(p));
    }
}

void ControlPanel::secondaryDown(Point p)
{
    if (Control* c = at(p); c && c->enabled() && !captured_ && c->secondaryPress(p))
        captured_ = c;
}

void ControlPanel::doubleClick(Point p)
{
    Control* c = at(p);
    if (c && c->enabled()) {
        captured_ = c;
        c->doubleClick(p);
    }
}

void ControlPanel::pointerLeave()
{
    if (!captured_)
        hot_ = nullptr;
}

void ControlPanel::wheel(Point p, float notches)
{
    if (Control* c = at(p); c && c->enabled())
        c->wheelAt(p, notches);
}

bool ControlPanel::key(Key key, Modifiers modifiers)
{
    if (key == Key::Tab) {
        std::vector<Control*> order;
        for (const Entry& e : controls_)
            if (e.control->focusable() && e.control->enabled())
                order.push_back(e.control.get());
        if (order.empty())
            return false;
        const auto i = std::find(order.begin(), order.end(), focused_);
        const size_t n = order.size();
        const size_t next = i == order.end()
            ? (modifiers.shift ? n - 1 : 0)
            : (static_cast<size_t>(i - order.begin()) + (modifiers.shift ? n - 1 : 1)) % n;
        focused_ = order[next];
        focusShown_ = true;
        return true;
    }
    if (!focused_ || !focused_->enabled() || !focused_->key(key, modifiers))
        return false;
    focusShown_ = true;
    return true;
}

bool ControlPanel::tick(double seconds)
{
    for (Entry& e : controls_) {
        const Control* c = e.control.get();
        e.hover.target = c == hot_ && c->enabled() ? 1.0 : 0.0;
        e.press.target = c == captured_ && c->hit(pointer_) ? 1.0 : 0.0;
        e.hover.advance(seconds, kHoverTimeConstant, 0.01);
        e.press.advance(seconds, kHoverTimeConstant / 2, 0.01);
        e.control->animate(seconds);
    }
    hoverSeconds_ += seconds;
    return signature() != drawn_;
}

} // namespace ui
