// The hotkeys' actions that belong to the window (Save Last, Record, the
// take on the mic, the setups' cycle and the redraw after each), and the
// entries the message loop calls: a hotkey's message, and the keys and
// buttons a running key capture takes first.

#include "soundboard/hotkeys.h"
#include "ui/main_window_impl.h"

namespace ui {

namespace {
constexpr int kMediaPage = 4, kRecorderTab = 3;
}

void MainWindow::Impl::makeHotkeyActions()
{
    class Actions final : public soundboard::HotkeyActions {
    public:
        explicit Actions(Impl& w) : w_(w) { }
        // One save of the Last buffer at a time, as with its button.
        void saveLast() override
        {
            if (!w_.lastSaving)
                w_.saveLastClip();
        }
        // A take starts on the tab that shows it.
        void toggleRecording() override
        {
            if (!w_.console.recorderFlags().recording)
                w_.select(kMediaPage, kRecorderTab);
            w_.console.recorder().toggleRecording();
        }
        // The take editor's Mic: plays the take into the virtual mic, or stops it.
        void toggleSendToMic() override
        {
            recorder::TakeEditor& editor = w_.console.takeEditor();
            if (editor.hasTake())
                editor.play(true);
        }
        void cycleSetup(int step) override { w_.cycle(step); }
        void redraw() override { w_.refresh(); }

    private:
        Impl& w_;
    };
    hotkeyActions = std::make_unique<Actions>(*this);
}

void MainWindow::hotkey(int id)
{
    Impl& w = *impl_;
    w.console.hotkeys().onHotkey(id, *w.hotkeyActions);
    w.after();
}

bool MainWindow::capturing() const
{
    return impl_->console.hotkeys().capturing();
}

bool MainWindow::captureInput(soundboard::CaptureInput input, uint16_t virtualKey, std::optional<uint32_t> modifiers)
{
    Impl& w = *impl_;
    const bool consumed = w.console.hotkeys().handleCaptureInput(input, virtualKey, modifiers);
    w.after();
    return consumed;
}

soundboard::HotkeyActions& MainWindow::hotkeyActions()
{
    return *impl_->hotkeyActions;
}

} // namespace ui
