#pragma once
// What the portable window model asks of the real window: repaints, the
// window's own buttons, native menus and prompts, the shell, and background
// work whose result comes back on the interface thread. The Windows window
// implements it; tests use a fake that records the requests.

#include "ui/geometry.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

struct MenuItem {
    std::wstring text; // "&&" shows one "&"; empty with separator set: a line
    bool separator = false;
    bool checked = false;
    bool enabled = true;
};

// One line of an open-file dialog's type list: its name and its patterns
// ("*.mp3;*.wav").
struct FileFilter {
    std::wstring name;
    std::wstring patterns;
};

// What the save-file dialog returned: the path and the type list's line chosen (from 0).
struct SaveChoice {
    std::wstring path;
    int filter = 0;
};

// Windows of their own that the caption opens.
enum class SecondaryWindow { MicTone, Soundboard };

class WindowHost {
public:
    virtual ~WindowHost() = default;

    // Repaint that part of the canvas (logical units) on the next paint.
    virtual void invalidate(const Rect& r) = 0;
    virtual void minimise() = 0;
    // Closes the window as its close button does (saves, then quits).
    virtual void close() = 0;
    // Opacity, always-on-top and zoom come from the settings record: apply
    // them after a change (the zoom animates to the new scale).
    virtual void applyWindowLook() = 0;
    // The interface face, size or bold flag changed: remake the faces and
    // repaint. A host whose faces follow the settings at paint ignores it.
    virtual void fontsChanged() {}

    // A pop-up menu below logical point at; the chosen item's index, or -1.
    virtual int showMenu(const std::vector<MenuItem>& items, Point at) = 0;
    // A one-line text prompt; nothing when cancelled.
    virtual std::optional<std::wstring> promptText(
        std::wstring_view title, std::wstring_view label, std::wstring_view initial) = 0;
    // The shell opens a folder, a control panel or a document.
    virtual void shellOpen(const std::wstring& file, const std::wstring& parameters) = 0;
    virtual void showAbout() = 0;

    // Runs work on a short-lived background thread that the background-worker
    // counter counts, then done on the interface thread. done is dropped
    // (never run) when the window is gone by then.
    virtual void runInBackground(std::function<void()> work, std::function<void()> done) = 0;

    // Opens (or brings forward) a secondary window; a host without it ignores the request.
    virtual void openSecondary(SecondaryWindow) {}

    // The one native edit field, for a clip's file or link: shown over the
    // logical rectangle while shown is set, hidden otherwise. Typing and
    // pasting happen in it natively; the model reads and sets its text.
    virtual void placeSourceField(const Rect&, bool shown) { (void)shown; }
    virtual std::wstring sourceFieldText() { return {}; }
    virtual void setSourceFieldText(const std::wstring&) { }
    // The keyboard focus moves into the field (Tab reached it).
    virtual void focusSourceField() { }
    // The common open-file dialog; the chosen file, nothing when cancelled.
    virtual std::optional<std::wstring> chooseFile(std::wstring_view title, const std::vector<FileFilter>& filters)
    {
        (void)title;
        (void)filters;
        return std::nullopt;
    }
    // The multi-select open-file dialog; every file chosen, none when cancelled.
    virtual std::vector<std::wstring> chooseFiles(std::wstring_view title, const std::vector<FileFilter>& filters)
    {
        (void)title;
        (void)filters;
        return {};
    }
    // Opens the trim dialog for one pad; a host without it ignores the request.
    virtual void openTrim(int pad) { (void)pad; }
    // The common save-file dialog (it asks before overwriting and wants an
    // existing folder), opened on initialPath with the filter line
    // preselected; nothing when cancelled.
    virtual std::optional<SaveChoice> chooseSaveFile(std::wstring_view title, const std::vector<FileFilter>& filters,
        int filter, const std::wstring& initialPath, std::wstring_view defaultExtension)
    {
        (void)title;
        (void)filters;
        (void)filter;
        (void)initialPath;
        (void)defaultExtension;
        return std::nullopt;
    }
    // A folder picker opened on initial; nothing when cancelled.
    virtual std::optional<std::wstring> chooseFolder(std::wstring_view title, const std::wstring& initial)
    {
        (void)title;
        (void)initial;
        return std::nullopt;
    }
};

} // namespace ui
