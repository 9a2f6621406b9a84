// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_PUT_BACK_LIST_H
#define KESTRILAVON_PUT_BACK_LIST_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// What root changed for one calibration, in one list: the rules file, tslib's pointercal, what
// was set on the running X or sway, the desktop's mapping of the touch screen and the output
// weston maps it onto while it is measured. Each comes with what puts it back and reads it
// back. However the run ends without keeping them (a check that failed, an error, a held
// signal), they are put back the last first, each once: a later change may rest on an earlier.
class PutBackList {
public:
    // Puts one change back, says so and says whether it reads back as before. A signal held
    // off meanwhile goes in *signal (0 where none came).
    using PutBack = std::function<bool(int *signal)>;
    using Id = std::size_t;

    Id add(PutBack putBack);
    // The change stays as it is: it is no longer put back.
    void keep(Id id);
    void keepAll();
    // Puts that one change back now, if it is still listed; true when it read back or was not
    // listed.
    bool putBack(Id id, int *signal);
    // Says why (where it is not empty), then puts back every change still listed, the last
    // first, with SIGINT, SIGTERM, SIGHUP and SIGQUIT only noted until all are back. Whether all
    // read back; *signal gets the first signal held off during them (left as it was where none
    // came).
    bool putBackAll(const std::string &why, int *signal);
    bool empty() const { return changes.empty(); }

private:
    std::vector<std::pair<Id, PutBack>> changes;
    Id next = 0;
};

// This run's list: what a held signal puts back before the program ends.
PutBackList &whatRootChanged();

#endif
