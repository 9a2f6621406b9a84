// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CALIBRATION_H
#define KESTRILAVON_CALIBRATION_H

#include <string>

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

// The five lines of the result file, each ending in a newline.
std::string resultFileText(const Borders &borders);

// Replaces the file at path with text so that nothing already lying at that name (a link, a
// pipe, another user's file) is ever written through, and no reader sees half of it.
// Returns an empty string on success, otherwise the system's reason.
std::string saveResultFile(const std::string &path, const std::string &text);

// Point size of the screen font for a screen this wide; wide screens keep the current size.
int fontPointSize(int screenWidth, int currentPointSize);

#endif
