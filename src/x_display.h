#ifndef KESTRILAVON_X_DISPLAY_H
#define KESTRILAVON_X_DISPLAY_H

#include <string>

// The toolkit aborts with a core dump when it cannot reach the X display, so the program asks
// first. Returns an empty string when the display answers (or the toolkit is told to use
// another platform), otherwise one line for the user saying which display did not answer.
std::string xDisplayProblem(int argc, char **argv);

#endif
