// SPDX-License-Identifier: MIT
#include "signals/signals_at_start.h"

namespace {

struct IgnoredAtStart {
    bool ignored[NSIG] = {};

    IgnoredAtStart()
    {
        for (int signal = 1; signal < NSIG; ++signal) {
            struct sigaction now {};
            ignored[signal] = ::sigaction(signal, nullptr, &now) == 0 && !(now.sa_flags & SA_SIGINFO)
                && now.sa_handler == SIG_IGN;
        }
    }
};

// Made as the program is loaded: main's first line may already ignore a signal of its own.
const IgnoredAtStart atStart;

} // namespace

bool ignoredAtStart(int signal)
{
    return signal > 0 && signal < NSIG && atStart.ignored[signal];
}

void catchUnlessIgnoredAtStart(int signal, const struct sigaction &handler, struct sigaction *before)
{
    ::sigaction(signal, ignoredAtStart(signal) ? nullptr : &handler, before);
}

void defaultUnlessIgnoredAtStart(int signal)
{
    struct sigaction plain {};
    sigemptyset(&plain.sa_mask);
    plain.sa_handler = ignoredAtStart(signal) ? SIG_IGN : SIG_DFL;
    ::sigaction(signal, &plain, nullptr);
}
