#include "ui/main_window.h"

#include "console/console.h"

namespace ui {

// A first frame until the pages arrive: the canvas and the title.
struct MainWindow::Impl {
    console::Console& console;
    WindowHost& host;
    Services services;
    int page = 0;
};

MainWindow::MainWindow(console::Console& console, WindowHost& host, Services services)
    : impl_(std::make_unique<Impl>(Impl{console, host, std::move(services)}))
{
}

MainWindow::~MainWindow() = default;

void MainWindow::paint(Painter& painter, const Rect&)
{
    painter.fillRect({0, 0, kCanvasWidth, kCanvasHeight}, 0xFFFFFF);
    painter.fillRect({0, 0, kCanvasWidth, 37}, 0xDADADA);
    painter.text({16, 0, 300, 37}, L"Vantor Ovix Settings", TextRole::Title, 0x1E1E1E, Align::Left);
}

void MainWindow::pointerMove(Point) {}
void MainWindow::pointerDown(Point) {}
void MainWindow::pointerUp(Point) {}
void MainWindow::doubleClick(Point) {}
void MainWindow::pointerLeave() {}
void MainWindow::wheel(Point, float) {}
bool MainWindow::key(Key, Modifiers) { return false; }
bool MainWindow::inCaption(Point p) const { return p.y >= 0 && p.y < 37; }
void MainWindow::tick(double) {}
void MainWindow::slowTick(double) {}
void MainWindow::showToast(std::wstring, double) {}
void MainWindow::start(const StartInfo&) {}
int MainWindow::page() const { return impl_->page; }
int MainWindow::tab() const { return 0; }
void MainWindow::selectPage(int page, int) { impl_->page = page; }

} // namespace ui
