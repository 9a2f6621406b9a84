// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_OUTLIER_H
#define KESTRILAVON_OUTLIER_H

#include "geometry/fit.h"

#include <optional>
#include <vector>

// Which touch, if any, was aimed elsewhere than at its target: a slip, a bounce taken for a
// touch, the wrong target. Each touch is judged against the fit of the others, by how far it
// lies from where they put it, measured in the scatter they show about their own fit (and the
// fit's own uncertainty at that touch): a steady finger is held to a tight limit, a shaky one to
// a wide one, so that an honest touch is asked again about as rarely at any scatter. The limit
// never falls under a few pixels, which no finger can tell apart; with too few touches to
// judge a scatter, it is a share of the screen's diagonal.
// The touches are on a w x h monitor; the answer is the index of the touch farthest over its
// limit.
std::optional<size_t> outlyingTouch(const std::vector<TouchOnTarget> &touches, AxisRange x, AxisRange y,
                                    int w, int h);

#endif
