// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_DEVICE_HOLDERS_H
#define KESTRILAVON_DEVICE_HOLDERS_H

#include <sys/types.h>

#include <string>
#include <vector>

// The programs that have an event device open: X, the compositor, logind. When udev removes
// the device they let it go, and when udev adds it again they open it again, reading libinput's
// matrix from udev at that moment. Until then they use the old one, so a re-add is over only
// once they hold the device again.

// The processes other than this one and its children that have the device node open (its path
// as udev names it, /dev/input/eventN), seen twice a tenth of a second apart (a udev worker's
// brief look is not a hold).
std::vector<pid_t> processesHolding(const std::string &node);

// Whether the process has a descriptor of the node open, by the path its link in /proc reads:
// nothing is followed through it. Made only of system calls, so that a forked child of a program
// with threads may use it; the path is "/proc/PID/fd", made before.
bool holdsDevice(const char *fdFolder, const char *node);

// Whether the process sees files where this one does: a descriptor's path names the device
// only in this mount namespace, and one of the process's own could hold a file of that name.
bool sharesOurMountNamespace(pid_t pid);

// The folder /proc/PID/fd of a process.
std::string fdFolderOf(pid_t pid);

// The process's own name, as it set it (which anyone can): for a report, after printable().
std::string processName(pid_t pid);

// How a holder went through the re-add.
enum class HolderOutcome : char {
    KeptOpen = 'k',  // never let it go: it does not follow udev (evtest, a reader like this one)
    OpenedAgain = 'a',
    NotOpenedAgain = 'n',  // let it go at the remove, and had not opened it again in time
};

struct Holder {
    pid_t pid = 0;
    HolderOutcome outcome = HolderOutcome::KeptOpen;
};

// One line for a report on the holders that let the device go: which opened it again, and which
// had not, and so may still use the old matrix; empty when there were none.
std::string holdersReport(const std::vector<Holder> &holders, int secondsWaited);

#endif
