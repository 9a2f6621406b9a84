// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SESSION_STATE_TEXT_H
#define KESTRILAVON_SESSION_STATE_TEXT_H

#include "x_input.h"

#include <optional>
#include <string>

// The session's state as a part run as its user writes it for root: what puts back a
// calibration it set (root only carries that to the part that puts it back), and X's chains
// as it read them (which root reads strictly, to judge them).

// What set->xBefore and set->swayBefore hold, as text; readPutBack fills them again from it,
// whole or not at all (false).
std::string putBackText(const ApplyReport &set);
bool readPutBack(const std::string &text, ApplyReport *set);
// The commands that put it back by hand: xinput's for X, swaymsg's for sway.
std::string putBackByHand(const ApplyReport &set);

// One chain: "ID AFFINE" and the twelve numbers of its two matrices, then its name.
std::string xChainText(const XChain &chain);
// The chain, when the text is exactly that with finite numbers; its name made printable.
std::optional<XChain> readXChain(const std::string &text);

#endif
