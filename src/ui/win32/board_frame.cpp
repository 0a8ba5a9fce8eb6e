#include "ui/win32/board_frame.h"

#include "console/console.h"
#include "ui/win32/pointer_input.h"
#include "ui/win32/window_object.h"

#include <shellapi.h>

namespace ui::win32 {

namespace {
constexpr int kStartFieldId = 101, kEndFieldId = 102;

std::wstring fieldText(HWND field)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(field)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(field, text.data(), static_cast<int>(text.size()))));
    return text;
}
} // namespace

void BoardFrame::registerClass(HINSTANCE instance, HICON icon, HICON smallIcon)
{
    registerWindowClass(instance, kBoardClass, windowProc, icon, smallIcon, CS_DBLCLKS);
}

void BoardFrame::open(HINSTANCE instance, HWND owner, float scale)
{
    if (window_.raise())
        return;
    auto model = std::make_unique<BoardWindow>(
        console_.soundboard(), console_.hotkeys(), console_.settings(), host_, console_.platform().clock);
    if (window_.create(instance, owner, kBoardClass, kBoardTitle, {kBoardWindowWidth, kBoardWindowHeight}, scale,
            std::move(model), this, WS_EX_ACCEPTFILES))
        ShowWindow(window_.hwnd, SW_SHOW);
}

LRESULT CALLBACK BoardFrame::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = windowObject<BoardFrame>(hwnd, message, lParam);
    if (self && message == WM_NCCREATE)
        self->window_.hwnd = hwnd;
    if (!self || !self->window_.model)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    LRESULT result = 0;
    if (message == WM_DROPFILES) {
        self->window_.model->filesDropped(takeDroppedFiles(reinterpret_cast<HDROP>(wParam)));
        self->window_.after();
    } else if (!self->window_.handle(message, wParam, lParam, result)) {
        result = DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY)
        self->window_.destroyed();
    return result;
}

void TrimFrame::registerClass(HINSTANCE instance, HICON icon, HICON smallIcon)
{
    registerWindowClass(instance, kTrimClass, windowProc, icon, smallIcon, CS_DBLCLKS);
}

HWND TrimFrame::makeField(HINSTANCE instance, const Rect& r)
{
    const RECT px = pixelsFromLogical(r, window_.scale);
    HWND field = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL, px.left,
        px.top, px.right - px.left, px.bottom - px.top, window_.hwnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(r.x == kTrimStartField.x ? kStartFieldId : kEndFieldId)), instance,
        nullptr);
    SendMessageW(field, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.bodyFont(window_.scale)), FALSE);
    return field;
}

void TrimFrame::open(HINSTANCE instance, HWND owner, float scale, int pad)
{
    if (window_.hwnd && pad == pad_) {
        window_.raise();
        return;
    }
    if (window_.hwnd)
        DestroyWindow(window_.hwnd);
    pad_ = pad;
    fieldSerial_ = 0;
    auto model = std::make_unique<TrimWindow>(console_.soundboard(), console_.settings(), host_, console_.media(), pad);
    if (!window_.create(instance, owner, kTrimClass, kTrimTitle, {kTrimWindowWidth, kTrimWindowHeight}, scale,
            std::move(model), this))
        return;
    start_ = makeField(instance, kTrimStartField);
    end_ = makeField(instance, kTrimEndField);
    syncFields();
    ShowWindow(window_.hwnd, SW_SHOW);
}

void TrimFrame::syncFields()
{
    if (!window_.model || !start_ || !end_)
        return;
    const bool shown = window_.model->fieldsShown();
    if (shown && window_.model->fieldSerial() != fieldSerial_) {
        fieldSerial_ = window_.model->fieldSerial();
        writingFields_ = true;
        SetWindowTextW(start_, window_.model->startText().c_str());
        SetWindowTextW(end_, window_.model->endText().c_str());
        writingFields_ = false;
    }
    if ((IsWindowVisible(start_) != FALSE) != shown) {
        ShowWindow(start_, shown ? SW_SHOWNA : SW_HIDE);
        ShowWindow(end_, shown ? SW_SHOWNA : SW_HIDE);
    }
}

LRESULT CALLBACK TrimFrame::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = windowObject<TrimFrame>(hwnd, message, lParam);
    if (self && message == WM_NCCREATE)
        self->window_.hwnd = hwnd;
    if (!self || !self->window_.model)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    LRESULT result = 0;
    if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
        if (!self->writingFields_) {
            self->window_.model->fieldsEdited(fieldText(self->start_), fieldText(self->end_));
            InvalidateRect(hwnd, nullptr, FALSE);
        }
    } else if (message == WM_CLOSE) {
        self->window_.model->cancel();
        self->window_.after();
    } else if (!self->window_.handle(message, wParam, lParam, result)) {
        result = DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        self->start_ = self->end_ = nullptr;
        self->window_.destroyed();
    } else if (self->window_.model && message != WM_COMMAND) {
        self->syncFields();
    }
    return result;
}

} // namespace ui::win32
