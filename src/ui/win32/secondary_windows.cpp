#include "ui/win32/secondary_windows.h"

#include "ui/win32/main_frame.h"
#include "ui/win32/window_object.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace ui::win32 {

namespace {

constexpr Colour kCanvas = 0xFFFFFF;
constexpr Colour kPanel = 0xDADADA;
constexpr Colour kAccent = 0xC97301;
constexpr Colour kText = 0x1E1E1E;
constexpr Colour kMuted = 0x5A5A5A;

constexpr float kAboutWidth = 520.0f;
constexpr float kAboutHeight = 300.0f;
constexpr float kPromptWidth = 380.0f;
constexpr float kPromptHeight = 132.0f;

struct AboutLine {
    const wchar_t* text;
    TextRole role;
    Colour colour;
};

constexpr AboutLine kAboutLines[] = {
    {L"Vantor Ovix Settings", TextRole::Title, kAccent},
    {L"Ovix Advanced HD Audio Processing Console", TextRole::Body, kText},
    {L"48 kHz Real-Time WASAPI Shared Engine  |  True Stereo Reverb", TextRole::Body, kMuted},
    {L"Integrated Audio Subsystems:", TextRole::Heading, kText},
    {L"- Ovix Acoustics: 15 rooms + Convolution IR Haunted Cavern + Ambit 3D", TextRole::Body, kText},
    {L"- Surround Mixer: 5-Mode Noise Isolation + 42 Voice Masks + Pitch/Speed", TextRole::Body, kText},
    {L"- Graphic Equalizer: 7-Band (125 Hz - 8 kHz), User Presets & Bass Boost", TextRole::Body, kText},
    {L"- Media Studio: Sound Clip URL/File Player, 12-Pad Soundboard & Editor", TextRole::Body, kText},
};

// What a secondary window keeps: the faces and the scale it was opened at.
struct Secondary {
    InterfaceFonts* fonts = nullptr;
    float scale = 1.0f;
    // The prompt's state.
    std::wstring label;
    HWND edit = nullptr;
    bool finished = false;
    std::optional<std::wstring> answer;
};

int px(float logical, float scale)
{
    return static_cast<int>(std::lround(logical * scale));
}

HWND makeButton(HWND parent, const wchar_t* text, int id, Rect r, float scale, HFONT font, bool isDefault)
{
    HWND button = CreateWindowExW(0, L"BUTTON", text,
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), px(r.x, scale),
        px(r.y, scale), px(r.w, scale), px(r.h, scale), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        nullptr, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return button;
}

void paintWith(HWND hwnd, const Secondary& state, void (*draw)(Painter&, const Secondary&))
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    {
        GdiPlusPainter painter(dc, state.scale, *state.fonts);
        draw(painter, state);
    }
    EndPaint(hwnd, &ps);
}

void drawAbout(Painter& p, const Secondary&)
{
    p.fillRect({0, 0, kAboutWidth, kAboutHeight}, kCanvas);
    p.fillRect({0, 0, 6, kAboutHeight}, kAccent);
    float y = 18.0f;
    for (const AboutLine& line : kAboutLines) {
        const float h = line.role == TextRole::Title ? 30.0f : 22.0f;
        if (line.role == TextRole::Heading)
            y += 8.0f;
        p.text({24, y, kAboutWidth - 40, h}, line.text, line.role, line.colour, Align::Left);
        y += h;
    }
    p.line({24, kAboutHeight - 52}, {kAboutWidth - 16, kAboutHeight - 52}, kPanel, 1.0f);
}

void drawPrompt(Painter& p, const Secondary& state)
{
    p.fillRect({0, 0, kPromptWidth, kPromptHeight}, kCanvas);
    p.text({16, 12, kPromptWidth - 32, 22}, state.label, TextRole::Body, kText, Align::Left);
}

LRESULT CALLBACK aboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Secondary* state = windowObject<Secondary>(hwnd, message, lParam);
    switch (message) {
    case WM_PAINT:
        if (state) {
            paintWith(hwnd, *state, drawAbout);
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            DestroyWindow(hwnd);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        delete state;
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK promptProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Secondary* state = windowObject<Secondary>(hwnd, message, lParam);
    switch (message) {
    case WM_PAINT:
        if (state) {
            paintWith(hwnd, *state, drawPrompt);
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_COMMAND:
        if (state && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            if (LOWORD(wParam) == IDOK) {
                std::wstring text(static_cast<size_t>(GetWindowTextLengthW(state->edit)) + 1, L'\0');
                text.resize(
                    static_cast<size_t>(GetWindowTextW(state->edit, text.data(), static_cast<int>(text.size()))));
                state->answer = std::move(text);
            }
            state->finished = true;
            return 0;
        }
        break;
    case WM_CLOSE:
        if (state)
            state->finished = true;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

// Client size in pixels for a logical canvas, plus the frame the style adds.
SIZE outerSize(float width, float height, float scale, DWORD style)
{
    RECT r{0, 0, px(width, scale), px(height, scale)};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    return {r.right - r.left, r.bottom - r.top};
}

POINT centredOver(HWND owner, SIZE size)
{
    RECT o{};
    GetWindowRect(owner, &o);
    return {o.left + (o.right - o.left - size.cx) / 2, o.top + (o.bottom - o.top - size.cy) / 2};
}

bool registerWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc, HICON icon, HICON smallIcon, UINT style)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = icon;
    wc.hIconSm = smallIcon;
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0;
}

void registerSecondaryClasses(HINSTANCE instance, HICON icon, HICON smallIcon)
{
    registerWindowClass(instance, kAboutClass, aboutProc, icon, smallIcon);
    registerWindowClass(instance, kPromptClass, promptProc, icon, smallIcon);
}

HWND openAbout(HINSTANCE instance, HWND owner, InterfaceFonts& fonts, float scale)
{
    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const SIZE size = outerSize(kAboutWidth, kAboutHeight, scale, style);
    const POINT at = centredOver(owner, size);
    auto* state = new Secondary;
    state->fonts = &fonts;
    state->scale = scale;
    HWND about = CreateWindowExW(0, kAboutClass, L"About Vantor Ovix Settings", style, at.x, at.y, size.cx, size.cy,
        owner, nullptr, instance, state);
    if (!about) {
        delete state;
        return nullptr;
    }
    makeButton(about, L"OK", IDOK, {kAboutWidth - 112, kAboutHeight - 40, 96, 28}, scale, fonts.bodyFont(scale), true);
    ShowWindow(about, SW_SHOW);
    return about;
}

std::optional<std::wstring> runPrompt(HINSTANCE instance, HWND owner, InterfaceFonts& fonts, float scale,
    std::wstring_view title, std::wstring_view label, std::wstring_view initial)
{
    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const SIZE size = outerSize(kPromptWidth, kPromptHeight, scale, style);
    const POINT at = centredOver(owner, size);
    Secondary state;
    state.fonts = &fonts;
    state.scale = scale;
    state.label = std::wstring(label);
    HWND prompt = CreateWindowExW(WS_EX_DLGMODALFRAME, kPromptClass, std::wstring(title).c_str(), style, at.x, at.y,
        size.cx, size.cy, owner, nullptr, instance, &state);
    if (!prompt)
        return std::nullopt;
    HFONT font = fonts.bodyFont(scale);
    state.edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", std::wstring(initial).c_str(),
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, px(16, scale), px(40, scale), px(kPromptWidth - 32, scale),
        px(26, scale), prompt, nullptr, instance, nullptr);
    SendMessageW(state.edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    makeButton(prompt, L"OK", IDOK, {kPromptWidth - 208, kPromptHeight - 44, 92, 28}, scale, font, true);
    makeButton(prompt, L"Cancel", IDCANCEL, {kPromptWidth - 108, kPromptHeight - 44, 92, 28}, scale, font, false);
    SendMessageW(state.edit, EM_SETSEL, 0, -1);
    // Modal: the owner takes no input until the prompt is answered.
    EnableWindow(owner, FALSE);
    ShowWindow(prompt, SW_SHOW);
    SetFocus(state.edit);
    MSG message{};
    while (!state.finished && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(prompt, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (message.message == WM_QUIT)
        PostQuitMessage(static_cast<int>(message.wParam)); // the outer loop ends too
    EnableWindow(owner, TRUE);
    SetForegroundWindow(owner);
    SetWindowLongPtrW(prompt, GWLP_USERDATA, 0);
    DestroyWindow(prompt);
    return state.answer;
}

} // namespace ui::win32
