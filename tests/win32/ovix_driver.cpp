// Drives the running VantorOvix.exe from outside, as a person would: finds
// its window, clicks at logical coordinates (times the window's scale),
// presses keys, moves and closes it, reads and writes its registry values,
// and captures the window from the screen to a PNG. One command per run;
// the exit code says whether it worked (the window tests are shell scripts
// around it).
//   ovix_driver wait-shown MS | click X Y | page P [T] | key VK | minimise |
//               restored | move X Y | close | scale | capture FILE.png [TOP BOTTOM] |
//               reg-get NAME [KEY] | reg-set NAME VALUE | tabs P | place NAME [FX FY] |
//               repaint N | wheel X Y NOTCHES | tone-open | tone-capture FILE.png | tone-escape |
//               capture-part FILE.png X Y W H | clip-source TEXT | save-as PATH MILLIS |
//               board-open | board-select PAD | board-place NAME | board-capture FILE.png | board-escape |
//               trim-open | trim-capture FILE.png | trim-close

#include "ui/board_view.h"
#include "ui/geometry.h"
#include "ui/layout.h"
#include "ui/page_places.h"
#include "ui/trim_window.h"

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kClass[] = L"VantorOvixWnd";
constexpr wchar_t kToneClass[] = L"VantorOvixTone";
constexpr wchar_t kBoardClass[] = L"VantorOvixBoard";
constexpr wchar_t kTrimClass[] = L"VantorOvixTrim";
constexpr wchar_t kSettingsKey[] = L"Software\\VantorOvix\\Settings";

HWND findWindow()
{
    return FindWindowW(kClass, nullptr);
}

float scaleOf(HWND window)
{
    RECT client{};
    GetClientRect(window, &client);
    return static_cast<float>(client.right) / ui::kCanvasWidth;
}

int lowSigned(LPARAM l)
{
    return static_cast<short>(LOWORD(l));
}
int highSigned(LPARAM l)
{
    return static_cast<short>(HIWORD(l));
}

LPARAM at(HWND window, float x, float y)
{
    const float scale = scaleOf(window);
    return MAKELPARAM(static_cast<int>(std::lround(x * scale)), static_cast<int>(std::lround(y * scale)));
}

void click(HWND window, float x, float y)
{
    const LPARAM where = at(window, x, y);
    PostMessageW(window, WM_MOUSEMOVE, 0, where);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
    PostMessageW(window, WM_LBUTTONUP, 0, where);
}

void clickCentre(HWND window, const ui::Rect& r)
{
    click(window, r.x + r.w / 2, r.y + r.h / 2);
}

// A control the window tests click, by name, where its page puts it.
std::optional<ui::Rect> placeOf(const std::wstring& name)
{
    static const std::pair<const wchar_t*, ui::Rect> kPlaces[] = {
        {L"eq-switch", ui::kEqSwitchRect},
        {L"eq-level", ui::kEqLevelRect},
        {L"zoom", ui::kZoomRect},
        {L"opacity", ui::kOpacityRect},
        {L"on-top", ui::kOnTopRect},
        {L"hints", ui::kHintsRect},
        {L"channel-test", ui::kChannelTestRect},
        {L"pink-noise", ui::kPinkNoiseRect},
        {L"clip-play", ui::kClipPlayRect},
        {L"clip-stop", ui::kClipStopRect},
        {L"clip-mic", ui::kClipMicRect},
        {L"rec-record", ui::kRecRecordRect},
        {L"rec-save", ui::kRecSaveRect},
        {L"glitch-key", ui::kGlitchKeyRect},
        {L"setup-next", ui::kSetupNextRect},
    };
    for (const auto& [key, rect] : kPlaces)
        if (name == key)
            return rect;
    if (name.starts_with(L"eq-band-"))
        return ui::eqBandRect(std::clamp(std::wcstol(name.c_str() + 8, nullptr, 10), 0L, 6L));
    if (name.starts_with(L"hotkey-row-"))
        return ui::hotkeyRowRect(std::clamp(std::wcstol(name.c_str() + 11, nullptr, 10), 0L, 9L));
    return std::nullopt;
}

// Waits until the window exists, is visible and has faded in to its opacity.
int waitShown(int millis)
{
    for (int waited = 0; waited < millis; waited += 50) {
        HWND window = findWindow();
        BYTE alpha = 0;
        DWORD flags = 0;
        if (window && IsWindowVisible(window) && GetLayeredWindowAttributes(window, nullptr, &alpha, &flags)
            && alpha == 255) {
            RECT r{};
            GetWindowRect(window, &r);
            std::printf("window %ld %ld %ld %ld scale %.3f\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
                scaleOf(window));
            return 0;
        }
        Sleep(50);
    }
    std::printf("no window shown within %d ms\n", millis);
    return 1;
}

CLSID pngEncoder()
{
    UINT count = 0, bytes = 0;
    Gdiplus::GetImageEncodersSize(&count, &bytes);
    std::vector<BYTE> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, bytes, codecs);
    for (UINT i = 0; i < count; ++i)
        if (std::wcscmp(codecs[i].MimeType, L"image/png") == 0)
            return codecs[i].Clsid;
    return CLSID{};
}

// Waits until a window of the class exists (or, with gone, no longer exists).
bool waitClass(const wchar_t* windowClass, bool gone)
{
    for (int waited = 0; waited < 5000; waited += 50) {
        HWND w = FindWindowW(windowClass, nullptr);
        if (gone ? !w : w && IsWindowVisible(w))
            return true;
        Sleep(50);
    }
    return false;
}
bool waitTone(bool gone)
{
    return waitClass(kToneClass, gone);
}

// A press of a button at a logical point of a secondary window whose canvas is width units wide.
void clickIn(HWND w, float width, ui::Point p, UINT down, UINT up)
{
    RECT client{};
    GetClientRect(w, &client);
    const float scale = static_cast<float>(client.right) / width;
    const LPARAM where
        = MAKELPARAM(static_cast<int>(std::lround(p.x * scale)), static_cast<int>(std::lround(p.y * scale)));
    PostMessageW(w, WM_MOUSEMOVE, 0, where);
    PostMessageW(w, down, down == WM_LBUTTONDOWN ? MK_LBUTTON : MK_RBUTTON, where);
    PostMessageW(w, up, 0, where);
}

void postEscape(HWND w)
{
    PostMessageW(w, WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageW(w, WM_KEYUP, VK_ESCAPE, 0xC0000001);
}

int captureClass(const wchar_t* windowClass, const wchar_t* file);

// Captures a window's area of the screen, or only the logical rectangle
// part of it when given. Exit 3: the capture is one colour (blank); 4:
// nothing is drawn between logical rows top and bottom.
int capture(HWND window, const wchar_t* file, float top, float bottom, const ui::Rect* part = nullptr)
{
    if (!window)
        return 1;
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // The picture is taken once it is steady: two grabs 100 ms apart alike
    // (a click posted just before has then been handled and painted).
    const size_t count = static_cast<size_t>(width) * height;
    std::vector<uint32_t> previous;
    for (int attempt = 0; attempt < 30; ++attempt) {
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        const auto* now = static_cast<const uint32_t*>(bits);
        if (previous.size() == count && std::equal(previous.begin(), previous.end(), now))
            break;
        previous.assign(now, now + count);
        Sleep(100);
    }
    SelectObject(memory, old);
    const auto* pixels = static_cast<const uint32_t*>(bits);
    std::set<uint32_t> all, below;
    const int firstRow = static_cast<int>(std::lround(top * scaleOf(window)));
    const int endRow = bottom > 0 ? static_cast<int>(std::lround(bottom * scaleOf(window))) : height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF;
            if (all.size() < 4096)
                all.insert(p);
            if (y >= firstRow && y < endRow && below.size() < 4096)
                below.insert(p);
        }
    int result = 0;
    {
        Gdiplus::Bitmap whole(bitmap, nullptr);
        Gdiplus::Bitmap* image = &whole;
        std::unique_ptr<Gdiplus::Bitmap> cropped;
        if (part) {
            const float scale = scaleOf(window);
            cropped.reset(whole.Clone(static_cast<INT>(std::lround(part->x * scale)),
                static_cast<INT>(std::lround(part->y * scale)), static_cast<INT>(std::lround(part->w * scale)),
                static_cast<INT>(std::lround(part->h * scale)), PixelFormat32bppRGB));
            image = cropped.get();
        }
        const CLSID png = pngEncoder();
        if (!image || image->Save(file, &png, nullptr) != Gdiplus::Ok) {
            std::printf("cannot save %ls\n", file);
            result = 1;
        }
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::printf("%zu colours, %zu in rows %.0f to %.0f\n", all.size(), below.size(), top, bottom);
    if (result == 0 && all.size() < 2)
        result = 3;
    else if (result == 0 && below.size() < 2)
        result = 4;
    return result;
}

int captureClass(const wchar_t* windowClass, const wchar_t* file)
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    const int result = capture(FindWindowW(windowClass, nullptr), file, 0, 0);
    Gdiplus::GdiplusShutdown(token);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring command = argv[1];
    auto number = [&](int i) { return i < argc ? std::wcstof(argv[i], nullptr) : 0.0f; };

    if (command == L"reg-get" && (argc == 3 || argc == 4)) {
        // A second name reads the program's other key of that name (Equalizer).
        const std::wstring key = argc == 4 ? std::wstring(L"Software\\VantorOvix\\") + argv[3] : kSettingsKey;
        DWORD value = 0, size = sizeof(value);
        if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), argv[2], RRF_RT_REG_DWORD, nullptr, &value, &size)
            != ERROR_SUCCESS) {
            std::printf("missing\n");
            return 1;
        }
        std::printf("%ld\n", static_cast<long>(static_cast<int32_t>(value)));
        return 0;
    }
    if (command == L"reg-set" && argc == 4) {
        const DWORD value = static_cast<DWORD>(std::wcstol(argv[3], nullptr, 10));
        return RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, argv[2], REG_DWORD, &value, sizeof(value))
                == ERROR_SUCCESS
            ? 0
            : 1;
    }
    if (command == L"wait-shown")
        return waitShown(static_cast<int>(number(2)));

    HWND window = findWindow();
    if (!window) {
        std::printf("no window\n");
        return 1;
    }
    if (command == L"click" && argc == 4) {
        click(window, number(2), number(3));
    } else if (command == L"place" && (argc == 3 || argc == 5)) {
        // At a fraction of the named control's box (its centre by default).
        const auto r = placeOf(argv[2]);
        if (!r) {
            std::printf("no place %ls\n", argv[2]);
            return 2;
        }
        const float fx = argc == 5 ? number(3) : 0.5f, fy = argc == 5 ? number(4) : 0.5f;
        click(window, r->x + r->w * fx, r->y + r->h * fy);
    } else if (command == L"page" && argc >= 3) {
        const int page = static_cast<int>(number(2));
        clickCentre(window, ui::pageTabRect(page));
        if (argc == 4)
            clickCentre(window, ui::subTabRect(page, static_cast<int>(number(3))));
    } else if (command == L"wheel" && argc == 5) {
        // Wheel messages carry screen coordinates; notches away from the user are positive.
        const LPARAM client = at(window, number(2), number(3));
        POINT p{lowSigned(client), highSigned(client)};
        ClientToScreen(window, &p);
        const int delta = static_cast<int>(number(4) * WHEEL_DELTA);
        PostMessageW(
            window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(delta))), MAKELPARAM(p.x, p.y));
    } else if (command == L"key" && argc == 3) {
        PostMessageW(window, WM_KEYDOWN, static_cast<WPARAM>(number(2)), 1);
        PostMessageW(window, WM_KEYUP, static_cast<WPARAM>(number(2)), 0xC0000001);
    } else if (command == L"hotkey" && argc == 3) {
        // What the system posts when a registered hotkey is pressed.
        PostMessageW(window, WM_HOTKEY, static_cast<WPARAM>(number(2)), 0);
    } else if (command == L"repaint" && argc == 3) {
        // Full repaints, each finished before the next is asked for.
        for (int i = 0; i < static_cast<int>(number(2)); ++i) {
            InvalidateRect(window, nullptr, FALSE);
            UpdateWindow(window);
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
        }
    } else if (command == L"save-as" && argc == 4) {
        // The save dialog the program opened: its file name typed and OK pressed.
        DWORD program = 0;
        GetWindowThreadProcessId(window, &program);
        HWND dialog = nullptr;
        for (int waited = 0; !dialog && waited < number(3); waited += 50) {
            for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w && !dialog;
                 w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                if (owner == program && IsWindowVisible(w))
                    dialog = w;
            }
            if (!dialog)
                Sleep(50);
        }
        if (!dialog) {
            std::printf("no save dialog\n");
            return 1;
        }
        // The file name box: the combo of the explorer-style dialog (its edit
        // inside), or the plain edit of the older one.
        HWND name = GetDlgItem(dialog, 1148);
        if (name) {
            if (HWND inner = FindWindowExW(name, nullptr, L"Edit", nullptr))
                name = inner;
        } else {
            name = GetDlgItem(dialog, 1152);
        }
        if (!name) {
            std::printf("no file name box\n");
            return 1;
        }
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    } else if (command == L"clip-source" && argc == 3) {
        // The Sound Clip tab's source field: the one edit child of the window.
        HWND field = FindWindowExW(window, nullptr, L"Edit", nullptr);
        if (!field) {
            std::printf("no source field\n");
            return 1;
        }
        SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
    } else if (command == L"tabs" && argc == 3) {
        std::printf("%d\n", ui::subTabCount(static_cast<int>(number(2))));
    } else if (command == L"minimise") {
        ShowWindow(window, SW_MINIMIZE);
    } else if (command == L"restored") {
        return IsIconic(window) ? 1 : 0;
    } else if (command == L"move" && argc == 4) {
        SetWindowPos(window, nullptr, static_cast<int>(number(2)), static_cast<int>(number(3)), 0, 0,
            SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (command == L"close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
    } else if (command == L"scale") {
        std::printf("%.3f\n", scaleOf(window));
    } else if (command == L"tone-open") {
        // The caption's Tone tool opens the Mic Tone & Vocal Lift window.
        clickCentre(window, ui::captionToolRect(ui::CaptionTool::Tone));
        if (!waitTone(false)) {
            std::printf("no tone window\n");
            return 1;
        }
    } else if (command == L"tone-escape") {
        if (HWND tone = FindWindowW(kToneClass, nullptr))
            postEscape(tone);
        return waitTone(true) ? 0 : 1;
    } else if (command == L"tone-capture" && argc == 3) {
        return captureClass(kToneClass, argv[2]);
    } else if (command == L"board-open") {
        // The caption's Soundboard tool opens the soundboard window; its title is printed.
        clickCentre(window, ui::captionToolRect(ui::CaptionTool::Soundboard));
        if (!waitClass(kBoardClass, false)) {
            std::printf("no soundboard window\n");
            return 1;
        }
        wchar_t title[128] = L"";
        GetWindowTextW(FindWindowW(kBoardClass, nullptr), title, 128);
        std::printf("%ls\n", title);
    } else if (command == L"board-select" && argc == 3) {
        // A right click selects a pad without playing it.
        HWND board = FindWindowW(kBoardClass, nullptr);
        if (!board)
            return 1;
        const ui::Rect pad = ui::padRect(ui::boardLayout(ui::BoardPlace::Window), static_cast<int>(number(2)));
        clickIn(board, ui::kBoardWindowWidth, {pad.x + pad.w / 2, pad.y + pad.h / 2}, WM_RBUTTONDOWN, WM_RBUTTONUP);
    } else if (command == L"board-place" && argc == 3) {
        // A left click on a pad (pad-N, 1..12) or on Set Key of the soundboard window.
        HWND board = FindWindowW(kBoardClass, nullptr);
        if (!board)
            return 1;
        const ui::BoardLayout layout = ui::boardLayout(ui::BoardPlace::Window);
        const std::wstring name = argv[2];
        ui::Rect r = layout.setKey;
        if (name.starts_with(L"pad-"))
            r = ui::padRect(layout, std::clamp(std::wcstol(name.c_str() + 4, nullptr, 10) - 1, 0L, 11L));
        else if (name != L"set-key")
            return 2;
        clickIn(board, ui::kBoardWindowWidth, {r.x + r.w / 2, r.y + r.h / 2}, WM_LBUTTONDOWN, WM_LBUTTONUP);
    } else if (command == L"board-capture" && argc == 3) {
        return captureClass(kBoardClass, argv[2]);
    } else if (command == L"board-escape") {
        if (HWND board = FindWindowW(kBoardClass, nullptr))
            postEscape(board);
        return waitClass(kBoardClass, true) ? 0 : 1;
    } else if (command == L"trim-open") {
        // The soundboard window's Trim button, for the selected pad.
        HWND board = FindWindowW(kBoardClass, nullptr);
        if (!board)
            return 1;
        const ui::Rect trim = ui::boardLayout(ui::BoardPlace::Window).trim;
        clickIn(board, ui::kBoardWindowWidth, {trim.x + trim.w / 2, trim.y + trim.h / 2}, WM_LBUTTONDOWN, WM_LBUTTONUP);
        if (!waitClass(kTrimClass, false)) {
            std::printf("no trim window\n");
            return 1;
        }
        wchar_t title[128] = L"";
        GetWindowTextW(FindWindowW(kTrimClass, nullptr), title, 128);
        std::printf("%ls\n", title);
    } else if (command == L"trim-capture" && argc == 3) {
        return captureClass(kTrimClass, argv[2]);
    } else if (command == L"trim-close") {
        if (HWND trim = FindWindowW(kTrimClass, nullptr))
            PostMessageW(trim, WM_CLOSE, 0, 0);
        return waitClass(kTrimClass, true) ? 0 : 1;
    } else if (command == L"capture-part" && argc == 7) {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        const ui::Rect part{number(3), number(4), number(5), number(6)};
        const int result = capture(findWindow(), argv[2], 0, 0, &part);
        Gdiplus::GdiplusShutdown(token);
        return result;
    } else if (command == L"capture" && argc >= 3) {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        const int result = capture(findWindow(), argv[2], number(3), number(4));
        Gdiplus::GdiplusShutdown(token);
        return result;
    } else {
        return 2;
    }
    return 0;
}
