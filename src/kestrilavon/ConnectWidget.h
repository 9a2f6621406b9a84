// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CONNECTWIDGET_H
#define KESTRILAVON_CONNECTWIDGET_H

#include "screens.h"
#include "x_display.h"

#include <QCursor>
#include <QFont>
#include <QString>
#include <QWidget>

// The full-screen calibration window. It walks the user through two touches and shows the
// four border options that calibrate the touch screen in X.
//
// What is on the window is kept as a list of drawn items: erasing clears it, drawing appends
// to it, and every paint draws it. The key and mouse handlers change the list and repaint it
// themselves; any other paint request (an X expose after the first screen, a redo) first runs
// the current state's paint branch, which for an exposed screen draws its repaint variant.
class ConnectWidget : public QWidget {
public:
    explicit ConnectWidget(char *device);
    ~ConnectWidget() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    enum State { Start = 0, Intro = -1, FirstMarker = 1, SecondMarker = 2, Result = 3, ReadError = 4 };

    int ReadTouch(char *path, int j);
    void paintCross(int length, int centerX, int centerY);
    void paintResult(int w, int h);
    void compute_output_result(int *x, int *y);

    void startPass();
    void repaintScreenOfState();
    void advance(bool byMouse);
    bool closed() const;
    void showReadError(const char *message);

    void erase();
    void draw(const Screen &items);
    void showOwnDrawing();

    int count = Start;
    int widthx = 0;
    int heighty = 0;
    int ts_xtmp[3] = {};
    int ts_ytmp[3] = {};
    char *dev;
    QString erro_msg;
    QFont f;
    QCursor myqcursor;
    QCursor myqcursor2;

    QString resultSaveError;  // why the last result could not be saved; empty when it was
    Screen shown;
    bool paintingOwnDrawing = false;
    LaterExposes exposes{this, [this] { update(); }};

    // The device tried when none is given; a pointer so that tests can stand in for it.
    static char *defaultDevice;

    friend class ConnectWidgetTest;
};

#endif
