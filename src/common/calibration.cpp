// SPDX-License-Identifier: MIT
#include "calibration.h"

const char kVersion[] = "1.0.0";
const char kResultFilePath[] = "/tmp/kestrilavon.tmp";

Borders computeBorders(const int x[2], const int y[2])
{
    const int dx = (x[1] - x[0]) / 2;
    const int dy = (y[1] - y[0]) / 2;
    return {x[0] - dx, x[1] + dx, y[0] - dy, y[1] + dy};
}

int fontPointSize(int screenWidth, int currentPointSize)
{
    if (screenWidth <= 700)
        return 10;
    if (screenWidth <= 800)
        return 12;
    return currentPointSize;
}
