// SPDX-License-Identifier: MIT
#include "put_back_list.h"

#include "user_part.h"

#include <algorithm>
#include <cstdio>

PutBackList::Id PutBackList::add(PutBack putBack)
{
    changes.emplace_back(next, std::move(putBack));
    return next++;
}

void PutBackList::keep(Id id)
{
    changes.erase(std::remove_if(changes.begin(), changes.end(), [id](const auto &change) { return change.first == id; }),
                  changes.end());
}

void PutBackList::keepAll()
{
    changes.clear();
}

bool PutBackList::putBack(Id id, int *signal)
{
    const auto listed = std::find_if(changes.begin(), changes.end(), [id](const auto &change) { return change.first == id; });
    if (listed == changes.end())
        return true;
    // Out of the list before it runs: a signal that ends the program meanwhile does not run it twice.
    const PutBack putBack = std::move(listed->second);
    changes.erase(listed);
    int during = 0;
    const bool back = putBack(&during);
    if (during && !*signal)
        *signal = during;
    return back;
}

bool PutBackList::putBackAll(const std::string &why, int *signal)
{
    // Signals are only noted until every change is back: one that ended root meanwhile would end
    // with it the user's part that puts the desktop's mapping back, and leave the rest as it is.
    const HeldUntilRestored held;
    const int notedBefore = held.signal();
    if (!why.empty())
        std::printf("%s\n", why.c_str());
    bool allBack = true;
    while (!changes.empty())
        allBack = putBack(changes.back().first, signal) && allBack;
    if (!*signal && held.signal() != notedBefore)
        *signal = held.signal();
    return allBack;
}

PutBackList &whatRootChanged()
{
    static PutBackList list;
    return list;
}
