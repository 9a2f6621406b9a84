// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CALIBRATION_H
#define KESTRILAVON_CALIBRATION_H

extern const char kVersion[];
extern const char kResultFilePath[];

// The raw touch-controller values at the four screen edges.
struct Borders {
    int left;
    int right;
    int top;
    int bottom;
};

// The markers sit at a quarter and three quarters of the screen, so the two samples span half
// of it: half their distance is added outwards on each side. Reversed axes are not an error.
Borders computeBorders(const int x[2], const int y[2]);

// Point size of the screen font for a screen this wide; wide screens keep the current size.
int fontPointSize(int screenWidth, int currentPointSize);

#endif
