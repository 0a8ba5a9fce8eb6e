#include "ui/win32/main_frame.h"

#include "console/console.h"
#include "ui/win32/board_frame.h"
#include "ui/win32/pointer_input.h"
#include "ui/win32/secondary_windows.h"
#include "ui/win32/window_object.h"

#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <thread>

namespace ui::win32 {

namespace {

constexpr int kFadeInMillis = 320;
constexpr int kFadeOutMillis = 220;
constexpr int kFadeOtherMillis = 200;
constexpr UINT kFadeStepMillis = 8;
// Saved positions further left or up than this are a minimised window's.
constexpr int kLowestPosition = -15999;
constexpr int kSourceFieldId = 100;
// Longer than any path or link the source check accepts, so that a longer
// text is refused by the check rather than cut into something else.
constexpr WPARAM kSourceFieldLimit = 4096;
// The field's text stands this far inside the frame the page draws.
constexpr float kSourceFieldPadding = 6.0f;

} // namespace

Key keyOf(WPARAM vk)
{
    switch (vk) {
    case VK_TAB:
        return Key::Tab;
    case VK_RETURN:
        return Key::Enter;
    case VK_SPACE:
        return Key::Space;
    case VK_ESCAPE:
        return Key::Escape;
    case VK_LEFT:
        return Key::Left;
    case VK_RIGHT:
        return Key::Right;
    case VK_UP:
        return Key::Up;
    case VK_DOWN:
        return Key::Down;
    case VK_PRIOR:
        return Key::PageUp;
    case VK_NEXT:
        return Key::PageDown;
    case VK_HOME:
        return Key::Home;
    case VK_END:
        return Key::End;
    case 'Z':
        return Key::Z;
    case 'Y':
        return Key::Y;
    default:
        return Key::Other;
    }
}

Modifiers modifiersNow()
{
    return {(GetKeyState(VK_SHIFT) & 0x8000) != 0, (GetKeyState(VK_CONTROL) & 0x8000) != 0};
}

WorkArea primaryWorkArea()
{
    RECT area{};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) && area.right > area.left && area.bottom > area.top)
        return {area.left, area.top, area.right - area.left, area.bottom - area.top};
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

int primaryMonitorDpi()
{
    // GetDpiForMonitor lives in shcore.dll from Windows 8.1 on; looked up once.
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const GetDpiForMonitorFn getDpi = [] {
        HMODULE shcore = LoadLibraryW(L"shcore.dll");
        return shcore
            ? reinterpret_cast<GetDpiForMonitorFn>(reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
            : nullptr;
    }();
    int monitorDpi = 0;
    if (getDpi) {
        UINT x = 0, y = 0;
        const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
        if (SUCCEEDED(getDpi(primary, 0 /* MDT_EFFECTIVE_DPI */, &x, &y)))
            monitorDpi = static_cast<int>(x);
    }
    int screenDpi = 0;
    if (HDC screen = GetDC(nullptr)) {
        screenDpi = GetDeviceCaps(screen, LOGPIXELSX);
        ReleaseDC(nullptr, screen);
    }
    return effectiveDpi(monitorDpi, screenDpi);
}

MainFrame::MainFrame(console::Console& console, platform::Clock& clock, InterfaceFonts& fonts)
    : console_(console),
      clock_(clock),
      fonts_(fonts),
      tone_(console.settings(), clock, fonts),
      board_(std::make_unique<BoardFrame>(console, *this, clock, fonts)),
      trim_(std::make_unique<TrimFrame>(console, *this, clock, fonts))
{ }

MainFrame::~MainFrame()
{
    if (hwnd_)
        DestroyWindow(hwnd_);
    endZoom();
    dropBackBuffer();
}

bool MainFrame::registerClasses(HINSTANCE instance, HICON icon, HICON smallIcon)
{
    if (!registerWindowClass(instance, kMainClass, windowProc, icon, smallIcon, CS_DBLCLKS))
        return false;
    registerWindowClass(instance, kZoomClass, zoomProc, nullptr, nullptr);
    registerSecondaryClasses(instance, icon, smallIcon);
    ToneFrame::registerClass(instance, icon, smallIcon);
    BoardFrame::registerClass(instance, icon, smallIcon);
    TrimFrame::registerClass(instance, icon, smallIcon);
    return true;
}

bool MainFrame::create(HINSTANCE instance, float scale, WindowPosition position, HICON icon, HICON smallIcon)
{
    instance_ = instance;
    scale_ = scale;
    spring_ = ScaleSpring(scale);
    const WindowSize size = windowSize(scale);
    hwnd_ = CreateWindowExW(WS_EX_LAYERED | WS_EX_APPWINDOW | WS_EX_ACCEPTFILES, kMainClass, kMainTitle,
        WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX | WS_SYSMENU, position.x, position.y, size.width, size.height,
        nullptr, nullptr, instance, this);
    if (!hwnd_)
        return false;
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
    DragAcceptFiles(hwnd_, TRUE);
    // Borderless: the page draws the field's frame around it.
    sourceField_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0, 0, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSourceFieldId)), instance, nullptr);
    if (sourceField_) {
        SendMessageW(sourceField_, EM_LIMITTEXT, kSourceFieldLimit, 0);
        SetWindowLongPtrW(sourceField_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        sourceFieldDefault_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(sourceField_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(sourceFieldProc)));
    }
    setAlpha(targetAlpha());
    applyWindowLook();
    return true;
}

void MainFrame::startTimers()
{
    SetTimer(hwnd_, kSlowTimer, 350, nullptr);
    SetTimer(hwnd_, kTickTimer, 16, nullptr);
}

void MainFrame::show(int showCommand)
{
    const bool quiet = showCommand == SW_HIDE || showCommand == SW_MINIMIZE || showCommand == SW_SHOWMINIMIZED
        || showCommand == SW_SHOWMINNOACTIVE || showCommand == SW_FORCEMINIMIZE;
    if (quiet || !console_.settings().UiAnim) {
        ShowWindow(hwnd_, showCommand);
        return;
    }
    setAlpha(0);
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    startFade(1);
}

uint8_t MainFrame::targetAlpha() const
{
    const int percent = std::clamp(console_.settings().alpha.load(), 20, 100);
    return static_cast<uint8_t>(percent * 255 / 100);
}

void MainFrame::setAlpha(uint8_t alpha)
{
    SetLayeredWindowAttributes(hwnd_, 0, alpha, LWA_ALPHA);
}

void MainFrame::startFade(int kind)
{
    fadeKind_ = kind;
    fadeMillis_ = kind == 1 ? kFadeInMillis : kind == 2 ? kFadeOutMillis : kFadeOtherMillis;
    fadeStartMicros_ = clock_.nowMicros();
    SetTimer(hwnd_, kFadeTimer, kFadeStepMillis, nullptr);
}

void MainFrame::fadeStep()
{
    const double elapsed = static_cast<double>(clock_.nowMicros() - fadeStartMicros_) / 1000.0;
    const double c = std::min(1.0, elapsed / fadeMillis_);
    const double eased = c * c * (3.0 - 2.0 * c);
    const double fraction = fadeKind_ == 1 ? eased : 1.0 - eased;
    setAlpha(static_cast<uint8_t>(std::lround(targetAlpha() * fraction)));
    if (c < 1.0)
        return;
    KillTimer(hwnd_, kFadeTimer);
    const int kind = fadeKind_;
    fadeKind_ = 0;
    if (kind == 2)
        DestroyWindow(hwnd_);
}

void MainFrame::invalidate(const Rect& r)
{
    if (!hwnd_)
        return;
    const RECT pixels = pixelsFromLogical(r, scale_);
    if (collecting_)
        UnionRect(&collected_, &collected_, &pixels);
    else
        InvalidateRect(hwnd_, &pixels, FALSE);
}

template <typename Work> void MainFrame::paintAfter(Work work)
{
    collecting_ = true;
    collected_ = {};
    work();
    collecting_ = false;
    if (!hwnd_ || IsRectEmpty(&collected_))
        return;
    HDC dc = IsWindowVisible(hwnd_) && !IsIconic(hwnd_) ? GetDC(hwnd_) : nullptr;
    if (!dc) {
        InvalidateRect(hwnd_, &collected_, FALSE);
        return;
    }
    paint(dc, collected_);
    ReleaseDC(hwnd_, dc);
}

void MainFrame::minimise()
{
    ShowWindow(hwnd_, SW_MINIMIZE);
}

void MainFrame::close()
{
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void MainFrame::applyWindowLook()
{
    const auto& s = console_.settings();
    SetWindowPos(hwnd_, s.UiTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (!fadeKind_ && !zoomWindow_)
        setAlpha(targetAlpha());
    const float target = windowScale(primaryWorkArea(), primaryMonitorDpi(), s.UiZoom);
    if (std::fabs(target - spring_.target()) < 1e-4f)
        return;
    if (s.UiAnim && IsWindowVisible(hwnd_) && !IsIconic(hwnd_)) {
        startZoom(target);
        return;
    }
    spring_.setTarget(target);
    spring_.snap();
    endZoom();
}

void MainFrame::fontsChanged()
{
    // Remade now rather than at the next paint, so that measuring before it
    // already sees the new faces.
    fonts_.update(console_.settings());
    layoutSourceField();
    if (hwnd_)
        InvalidateRect(hwnd_, nullptr, FALSE);
}

int MainFrame::showMenu(const std::vector<MenuItem>& items, Point at)
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return -1;
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        if (item.separator) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT flags = MF_STRING;
        if (item.checked)
            flags |= MF_CHECKED;
        if (!item.enabled)
            flags |= MF_GRAYED;
        AppendMenuW(menu, flags, i + 1, item.text.c_str());
    }
    POINT screen{static_cast<LONG>(std::lround(at.x * scale_)), static_cast<LONG>(std::lround(at.y * scale_))};
    ClientToScreen(hwnd_, &screen);
    SetForegroundWindow(hwnd_);
    const int chosen = static_cast<int>(TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN, screen.x, screen.y, 0, hwnd_, nullptr));
    DestroyMenu(menu);
    return chosen - 1;
}

std::optional<std::wstring> MainFrame::promptText(
    std::wstring_view title, std::wstring_view label, std::wstring_view initial)
{
    return runPrompt(instance_, hwnd_, fonts_, scale_, title, label, initial);
}

void MainFrame::shellOpen(const std::wstring& file, const std::wstring& parameters)
{
    ShellExecuteW(
        hwnd_, L"open", file.c_str(), parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

void MainFrame::showAbout()
{
    if (about_ && IsWindow(about_)) {
        SetForegroundWindow(about_);
        return;
    }
    about_ = openAbout(instance_, hwnd_, fonts_, scale_);
}

void MainFrame::openSecondary(SecondaryWindow window)
{
    if (window == SecondaryWindow::MicTone)
        tone_.open(instance_, hwnd_, scale_);
    else if (window == SecondaryWindow::Soundboard)
        board_->open(instance_, hwnd_, scale_);
}

void MainFrame::openTrim(int pad)
{
    // Owned by the soundboard window when that is where Trim was clicked.
    const HWND board = board_->handle();
    trim_->open(instance_, board && GetForegroundWindow() == board ? board : hwnd_, scale_, pad);
}

void MainFrame::placeSourceField(const Rect& r, bool shown)
{
    sourceFieldRect_ = r;
    sourceFieldShown_ = shown;
    layoutSourceField();
}

void MainFrame::layoutSourceField()
{
    if (!sourceField_)
        return;
    if (!sourceFieldShown_) {
        if (GetFocus() == sourceField_)
            SetFocus(hwnd_);
        ShowWindow(sourceField_, SW_HIDE);
        return;
    }
    HFONT font = fonts_.bodyFont(scale_);
    if (font != sourceFieldFont_) {
        sourceFieldFont_ = font;
        SendMessageW(sourceField_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    // One line of the font, centred in the frame's height.
    int lineHeight = 0;
    if (HDC dc = GetDC(sourceField_)) {
        HGDIOBJ old = SelectObject(dc, font);
        TEXTMETRICW metrics{};
        if (GetTextMetricsW(dc, &metrics))
            lineHeight = metrics.tmHeight;
        SelectObject(dc, old);
        ReleaseDC(sourceField_, dc);
    }
    const RECT frame = pixelsFromLogical(sourceFieldRect_.inset(kSourceFieldPadding, 2), scale_);
    const int frameHeight = frame.bottom - frame.top;
    const int height = lineHeight > 0 ? std::min(frameHeight, lineHeight + 2) : frameHeight;
    MoveWindow(
        sourceField_, frame.left, frame.top + (frameHeight - height) / 2, frame.right - frame.left, height, TRUE);
    ShowWindow(sourceField_, SW_SHOWNA);
}

std::wstring MainFrame::sourceFieldText()
{
    if (!sourceField_)
        return {};
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(sourceField_)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(sourceField_, text.data(), static_cast<int>(text.size()))));
    return text;
}

void MainFrame::setSourceFieldText(const std::wstring& text)
{
    if (sourceField_)
        SetWindowTextW(sourceField_, text.c_str());
}

void MainFrame::focusSourceField()
{
    if (!sourceField_ || !IsWindowVisible(sourceField_))
        return;
    SetFocus(sourceField_);
    SendMessageW(sourceField_, EM_SETSEL, 0, -1);
}

namespace {

// The file dialogs' filter list: name and patterns, each ended by a null, and a final null.
std::wstring dialogFilter(const std::vector<FileFilter>& filters)
{
    std::wstring filter;
    for (const FileFilter& f : filters) {
        filter += f.name;
        filter += L'\0';
        filter += f.patterns;
        filter += L'\0';
    }
    filter += L'\0';
    return filter;
}

// The open dialog over owner: the chosen file's full path, or with many
// each chosen file's; none when cancelled.
std::vector<std::wstring> openFiles(
    HWND owner, std::wstring_view title, const std::vector<FileFilter>& filters, bool many)
{
    const std::wstring filter = dialogFilter(filters);
    const std::wstring caption(title);
    std::wstring buffer(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size());
    dialog.lpstrTitle = caption.c_str();
    dialog.Flags = (many ? OFN_ALLOWMULTISELECT : 0) | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST
        | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&dialog))
        return {};
    // One file: its full path. Several: the folder, then each name, each
    // ended by a null, the list by a second null.
    std::vector<std::wstring> parts;
    for (const wchar_t* at = buffer.c_str(); *at && at < buffer.c_str() + buffer.size(); at += parts.back().size() + 1)
        parts.emplace_back(at);
    if (parts.size() <= 1)
        return parts;
    std::wstring folder = parts.front();
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    std::vector<std::wstring> files;
    for (size_t i = 1; i < parts.size(); ++i)
        files.push_back(folder + parts[i]);
    return files;
}

} // namespace

std::optional<std::wstring> MainFrame::chooseFile(std::wstring_view title, const std::vector<FileFilter>& filters)
{
    std::vector<std::wstring> files = openFiles(hwnd_, title, filters, false);
    if (files.empty())
        return std::nullopt;
    return std::move(files.front());
}

std::vector<std::wstring> MainFrame::chooseFiles(std::wstring_view title, const std::vector<FileFilter>& filters)
{
    return openFiles(GetActiveWindow() ? GetActiveWindow() : hwnd_, title, filters, true);
}

std::optional<SaveChoice> MainFrame::chooseSaveFile(std::wstring_view title, const std::vector<FileFilter>& filters,
    int filter, const std::wstring& initialPath, std::wstring_view defaultExtension)
{
    const std::wstring list = dialogFilter(filters);
    const std::wstring caption(title), extension(defaultExtension);
    std::wstring file(32768, L'\0');
    std::copy_n(initialPath.begin(), std::min(initialPath.size(), file.size() - 1), file.begin());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = list.c_str();
    dialog.nFilterIndex = static_cast<DWORD>(filter + 1);
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrTitle = caption.c_str();
    dialog.lpstrDefExt = extension.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&dialog))
        return std::nullopt;
    file.resize(std::wcslen(file.c_str()));
    return SaveChoice{file, static_cast<int>(dialog.nFilterIndex) - 1};
}

std::optional<std::wstring> MainFrame::chooseFolder(std::wstring_view title, const std::wstring& initial)
{
    const std::wstring caption(title);
    BROWSEINFOW browse{};
    browse.hwndOwner = hwnd_;
    browse.lpszTitle = caption.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    // The dialog opens on the current folder: selected once it is initialised.
    browse.lpfn = [](HWND dialog, UINT message, LPARAM, LPARAM data) -> int {
        if (message == BFFM_INITIALIZED && data)
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
        return 0;
    };
    browse.lParam = initial.empty() ? 0 : reinterpret_cast<LPARAM>(initial.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (!chosen)
        return std::nullopt;
    std::wstring path(MAX_PATH, L'\0');
    const bool ok = SHGetPathFromIDListW(chosen, path.data()) != FALSE;
    CoTaskMemFree(chosen);
    if (!ok)
        return std::nullopt;
    path.resize(std::wcslen(path.c_str()));
    return path;
}

void MainFrame::filesDropped(HANDLE handle)
{
    const std::vector<std::wstring> paths = takeDroppedFiles(static_cast<HDROP>(handle));
    if (model_)
        model_->filesDropped(paths);
}

LRESULT CALLBACK MainFrame::sourceFieldProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<MainFrame*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_KEYDOWN && (wParam == VK_TAB || wParam == VK_RETURN) && self->model_) {
        if (wParam == VK_TAB)
            SetFocus(self->hwnd_);
        self->model_->sourceFieldKey(keyOf(wParam), modifiersNow());
        return 0;
    }
    // The characters of those keys would only beep in a single-line field.
    if (message == WM_CHAR && (wParam == L'\t' || wParam == L'\r'))
        return 0;
    return CallWindowProcW(self->sourceFieldDefault_, hwnd, message, wParam, lParam);
}

void MainFrame::runInBackground(std::function<void()> work, std::function<void()> done)
{
    const HWND target = hwnd_;
    // Counted from here, so shutdown also waits for a thread not yet running.
    auto counted = console_.workers().enter();
    std::thread([target, work = std::move(work), done = std::move(done), counted = std::move(counted)]() mutable {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        work();
        auto* result = new std::function<void()>(std::move(done));
        if (!PostMessageW(target, kWorkDoneMessage, 0, reinterpret_cast<LPARAM>(result)))
            delete result; // the window is gone: the result is dropped here
        if (SUCCEEDED(com))
            CoUninitialize();
    }).detach();
}

bool MainFrame::routeEscape()
{
    if (!model_ || !model_->key(Key::Escape, modifiersNow()))
        return false;
    InvalidateRect(hwnd_, nullptr, FALSE);
    return true;
}

bool MainFrame::ensureBackBuffer(HDC dc, int width, int height)
{
    if (backDc_ && backWidth_ == width && backHeight_ == height)
        return true;
    dropBackBuffer();
    backDc_ = CreateCompatibleDC(dc);
    backBitmap_ = backDc_ ? CreateCompatibleBitmap(dc, width, height) : nullptr;
    if (!backBitmap_) {
        dropBackBuffer();
        return false;
    }
    backOld_ = SelectObject(backDc_, backBitmap_);
    backWidth_ = width;
    backHeight_ = height;
    return true;
}

void MainFrame::dropBackBuffer()
{
    if (backDc_ && backOld_)
        SelectObject(backDc_, backOld_);
    if (backBitmap_)
        DeleteObject(backBitmap_);
    if (backDc_)
        DeleteDC(backDc_);
    backDc_ = nullptr;
    backBitmap_ = nullptr;
    backOld_ = nullptr;
    backWidth_ = backHeight_ = 0;
}

void MainFrame::paint(HDC dc, const RECT& invalid)
{
    if (!model_ || IsRectEmpty(&invalid))
        return;
    LARGE_INTEGER frequency{}, begin{}, drawn{}, modelBegin{}, end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    fonts_.update(console_.settings());
    // The faces may have been remade since the field took its font.
    if (sourceFieldShown_ && fonts_.bodyFont(scale_) != sourceFieldFont_)
        layoutSourceField();
    RECT client{};
    GetClientRect(hwnd_, &client);
    const Rect area = logicalFromPixels(invalid, scale_);
    const bool buffered = ensureBackBuffer(dc, client.right, client.bottom);
    {
        // Without a back buffer the page is drawn straight onto the window.
        GdiPlusPainter painter(buffered ? backDc_ : dc, scale_, fonts_, invalid);
        QueryPerformanceCounter(&modelBegin);
        model_->paint(painter, area);
        QueryPerformanceCounter(&drawn);
    }
    if (buffered)
        BitBlt(dc, invalid.left, invalid.top, invalid.right - invalid.left, invalid.bottom - invalid.top, backDc_,
            invalid.left, invalid.top, SRCCOPY);
    QueryPerformanceCounter(&end);
    auto millisBetween = [&](LARGE_INTEGER a, LARGE_INTEGER b) {
        return static_cast<double>(b.QuadPart - a.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    };
    ++paintTimes_.paints;
    paintTimes_.paintMillis += millisBetween(begin, end);
    paintTimes_.modelMillis += millisBetween(modelBegin, drawn);
    if (invalid.left <= 0 && invalid.top <= 0 && invalid.right >= client.right && invalid.bottom >= client.bottom) {
        const double millis = millisBetween(begin, end);
        if (paintTimes_.firstFullMillis < 0.0) {
            paintTimes_.firstFullMillis = millis;
        } else {
            ++paintTimes_.repaints;
            paintTimes_.repaintMillis += millis;
        }
    }
}

void MainFrame::recordPosition()
{
    auto& s = console_.settings();
    if (!s.UiPlace || !IsWindowVisible(hwnd_) || IsIconic(hwnd_) || zoomWindow_)
        return;
    RECT r{};
    GetWindowRect(hwnd_, &r);
    if (r.left < kLowestPosition || r.top < kLowestPosition)
        return;
    // Marks the settings for saving; the tick writes them at most every 501 ms.
    s.setWindowPosition(true, r.left, r.top);
}

void MainFrame::startZoom(float target)
{
    endZoom();
    spring_.setTarget(target);
    // The snapshot is the back buffer as last painted, at the old scale.
    RECT client{};
    GetClientRect(hwnd_, &client);
    HDC screen = GetDC(hwnd_);
    if (backDc_ && screen) {
        zoomSnapshot_ = CreateCompatibleBitmap(screen, client.right, client.bottom);
        if (zoomSnapshot_) {
            HDC copy = CreateCompatibleDC(screen);
            HGDIOBJ old = SelectObject(copy, zoomSnapshot_);
            BitBlt(copy, 0, 0, client.right, client.bottom, backDc_, 0, 0, SRCCOPY);
            SelectObject(copy, old);
            DeleteDC(copy);
            zoomSnapshotSize_ = {client.right, client.bottom};
        }
    }
    if (screen)
        ReleaseDC(hwnd_, screen);
    RECT at{};
    GetWindowRect(hwnd_, &at);
    if (zoomSnapshot_)
        zoomWindow_ = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kZoomClass, L"", WS_POPUP,
            at.left, at.top, client.right, client.bottom, hwnd_, nullptr, instance_, this);
    if (!zoomWindow_) {
        // No snapshot window: jump to the new scale.
        spring_.snap();
        endZoom();
        return;
    }
    SetLayeredWindowAttributes(zoomWindow_, 0, targetAlpha(), LWA_ALPHA);
    ShowWindow(zoomWindow_, SW_SHOWNOACTIVATE);
    setAlpha(0);
}

void MainFrame::zoomStep(double seconds)
{
    if (!zoomWindow_)
        return;
    spring_.advance(seconds);
    if (spring_.settled()) {
        spring_.snap();
        endZoom();
        return;
    }
    const WindowSize size = windowSize(std::clamp(spring_.shown(), kMinScale, kMaxScale));
    SetWindowPos(zoomWindow_, nullptr, 0, 0, size.width, size.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(zoomWindow_, nullptr, FALSE);
}

void MainFrame::endZoom()
{
    if (zoomWindow_) {
        DestroyWindow(zoomWindow_);
        zoomWindow_ = nullptr;
    }
    if (zoomSnapshot_) {
        DeleteObject(zoomSnapshot_);
        zoomSnapshot_ = nullptr;
    }
    if (!hwnd_)
        return;
    if (!fadeKind_)
        setAlpha(targetAlpha());
    if (std::fabs(spring_.shown() - scale_) < 1e-6f)
        return;
    // The window takes its new size where it stands, kept inside the work area.
    scale_ = spring_.shown();
    const WindowSize size = windowSize(scale_);
    RECT at{};
    GetWindowRect(hwnd_, &at);
    const WindowPosition place = windowPosition(primaryWorkArea(), size, true, at.left, at.top);
    SetWindowPos(hwnd_, nullptr, place.x, place.y, size.width, size.height, SWP_NOZORDER | SWP_NOACTIVATE);
    layoutSourceField();
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void MainFrame::onDestroy()
{
    KillTimer(hwnd_, kSlowTimer);
    KillTimer(hwnd_, kTickTimer);
    KillTimer(hwnd_, kFadeTimer);
    if (auto* store = console_.registrySettings()) {
        store->saveRegistrySettings(console_.settings());
        store->saveEqualizer(console_.settings());
    }
    // The hotkeys were registered on this window: they go with it.
    console_.soundboard().save();
    console_.hotkeys().unregisterAllHotkeys();
    if (about_ && IsWindow(about_))
        DestroyWindow(about_);
    about_ = nullptr;
    endZoom();
    PostQuitMessage(0);
}

LRESULT CALLBACK MainFrame::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = windowObject<MainFrame>(hwnd, message, lParam);
    if (self && message == WM_NCCREATE)
        self->hwnd_ = hwnd;
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    const LRESULT result = self->handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

LRESULT MainFrame::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    // A click on the page takes the keys back from the source field.
    if ((message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN) && sourceField_ && GetFocus() == sourceField_)
        SetFocus(hwnd_);
    if (routePointer(hwnd_, message, wParam, lParam, scale_, trackingLeave_, model_))
        return 0;
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        paint(dc, ps.rcPaint);
        EndPaint(hwnd_, &ps);
        return 0;
    }
    case WM_SIZE:
        // The back buffer is remade at the next paint when the size changed.
        return 0;
    case WM_NCHITTEST: {
        const LRESULT hit = DefWindowProcW(hwnd_, message, wParam, lParam);
        if (hit != HTCLIENT || !model_)
            return hit;
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(hwnd_, &p);
        return model_->inCaption({static_cast<float>(p.x) / scale_, static_cast<float>(p.y) / scale_}) ? HTCAPTION
                                                                                                       : hit;
    }
    case WM_KEYDOWN:
        if (model_ && model_->key(keyOf(wParam), modifiersNow()))
            return 0;
        break;
    case WM_TIMER:
        if (wParam == kFadeTimer) {
            fadeStep();
        } else if (wParam == kTickTimer) {
            const double now = nowSeconds();
            const double dt = lastTickSeconds_ < 0.0 ? 0.016 : std::min(0.1, now - lastTickSeconds_);
            lastTickSeconds_ = now;
            zoomStep(dt);
            if (model_)
                paintAfter([&] { model_->tick(now); });
        } else if (wParam == kSlowTimer && model_) {
            paintAfter([&] { model_->slowTick(nowSeconds()); });
        }
        return 0;
    case WM_MOVE:
        recordPosition();
        return 0;
    case WM_DROPFILES:
        filesDropped(reinterpret_cast<HANDLE>(wParam));
        return 0;
    case WM_HOTKEY:
        if (model_)
            model_->hotkey(static_cast<int>(wParam));
        return 0;
    case kWorkDoneMessage: {
        // The window owns the result from here.
        std::unique_ptr<std::function<void()>> done(reinterpret_cast<std::function<void()>*>(lParam));
        if (done && *done)
            (*done)();
        return 0;
    }
    case WM_CLOSE:
        if (console_.settings().UiAnim && IsWindowVisible(hwnd_) && !IsIconic(hwnd_) && fadeKind_ != 2) {
            startFade(2);
            return 0;
        }
        if (fadeKind_ != 2)
            DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        onDestroy();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK MainFrame::zoomProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(
            hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<MainFrame*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_ERASEBKGND)
        return 1;
    if (message == WM_PAINT && self) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT client{};
        GetClientRect(hwnd, &client);
        if (self->zoomSnapshot_) {
            HDC copy = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(copy, self->zoomSnapshot_);
            SetStretchBltMode(dc, HALFTONE);
            SetBrushOrgEx(dc, 0, 0, nullptr);
            StretchBlt(dc, 0, 0, client.right, client.bottom, copy, 0, 0, self->zoomSnapshotSize_.cx,
                self->zoomSnapshotSize_.cy, SRCCOPY);
            SelectObject(copy, old);
            DeleteDC(copy);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace ui::win32
