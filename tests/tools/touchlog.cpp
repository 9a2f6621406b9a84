// SPDX-License-Identifier: MIT
// touchlog: a full-screen window that says where its compositor puts each touch, for the
// compositors whose windows wev cannot make full screen (GNOME's mutter, KWin).
//
//   touchlog
//
// Prints one line per event, flushed at once:
//   down TIME X Y   a touch went down at (X, Y), in the window's own pixels (= the screen's),
//                   TIME being the compositor's time of the event in milliseconds
//   active          the window became the active one
//   inactive        another window was made the active one: it covers this one
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QTouchEvent>

#include <cstdio>

namespace {

class TouchLog : public QRasterWindow {
public:
    TouchLog()
    {
        connect(this, &QWindow::activeChanged, this, [this] {
            std::printf("%s\n", isActive() ? "active" : "inactive");
            std::fflush(stdout);
        });
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(QRect(QPoint(0, 0), size()), Qt::white);
    }

    void touchEvent(QTouchEvent *event) override
    {
        for (const QEventPoint &point : event->points()) {
            if (point.state() == QEventPoint::Pressed)
                std::printf("down %llu %.6f %.6f\n", static_cast<unsigned long long>(event->timestamp()),
                            point.position().x(), point.position().y());
        }
        std::fflush(stdout);
        event->accept();
    }
};

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    TouchLog window;
    window.showFullScreen();
    return application.exec();
}
