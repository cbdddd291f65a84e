// Saves what the X display shows, cut to the area that differs from the empty background.
// Used by scripts/screenshot.sh to photograph the real program under Xvfb.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>

namespace {

QRect Content(const QImage& Image)
{
    const QRgb Background = Image.pixel(0, 0);
    QRect Box;
    for (int Y = 0; Y < Image.height(); ++Y)
        for (int X = 0; X < Image.width(); ++X)
            if (Image.pixel(X, Y) != Background)
                Box |= QRect(X, Y, 1, 1);
    return Box;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication App(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qp_screengrab OUTPUT.png\n");
        return 2;
    }
    // The program needs a moment to map and paint its window: look for up to five seconds.
    for (int Try = 0; Try < 50; ++Try) {
        QImage Image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        if (!Content(Image).isEmpty()) {
            QThread::msleep(500);   // let the first paint finish
            Image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
            return Image.copy(Content(Image)).save(argv[1]) ? 0 : 1;
        }
        QThread::msleep(100);
    }
    std::fprintf(stderr, "qp_screengrab: nothing appeared on the display\n");
    return 1;
}
