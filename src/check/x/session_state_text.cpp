// SPDX-License-Identifier: MIT
#include "session_state_text.h"

#include "handover/session_answer.h"
#include "input/listing.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

} // namespace

std::string putBackText(const ApplyReport &set)
{
    SessionAnswer putBack;
    for (const XPropertyBefore &old : set.xBefore) {
        std::string numbers = std::to_string(old.device) + ' ' + std::to_string(old.type) + ' '
            + std::to_string(old.format);
        for (const std::uint32_t item : old.items)
            numbers += ' ' + std::to_string(item);
        putBack.add("x", numbers + '\n' + old.name + '\n' + old.undo);
    }
    if (set.swayBefore)
        putBack.add("sway", set.swayBefore->identifier + '\n' + set.swayBefore->matrix + '\n'
                                + (set.swayBefore->mapped ? "mapped" : "unmapped"));
    return sessionAnswerText(putBack);
}

bool readPutBack(const std::string &text, ApplyReport *set)
{
    const std::optional<SessionAnswer> putBack = readSessionAnswer(text, {"x", "sway"});
    if (!putBack)
        return false;
    ApplyReport read;
    for (const std::string &value : putBack->values("x")) {
        const std::vector<std::string> parts = lines(value);
        if (parts.size() != 3)
            return false;
        std::istringstream numbers(parts[0]);
        XPropertyBefore old;
        if (!(numbers >> old.device >> old.type >> old.format))
            return false;
        for (std::uint32_t item; numbers >> item;)
            old.items.push_back(item);
        if (!numbers.eof())
            return false;
        old.name = parts[1];
        old.undo = parts[2];
        read.xBefore.push_back(old);
    }
    if (const std::optional<std::string> sway = putBack->value("sway")) {
        const std::vector<std::string> parts = lines(*sway);
        if (parts.size() != 3 || !Matrix::parse(parts[1]) || (parts[2] != "mapped" && parts[2] != "unmapped"))
            return false;
        read.swayBefore = SwayBefore{parts[0], parts[1], parts[2] == "mapped"};
    }
    set->xBefore = read.xBefore;
    set->swayBefore = read.swayBefore;
    return true;
}

std::string putBackByHand(const ApplyReport &set)
{
    if (set.swayBefore)
        return "swaymsg 'input \"" + set.swayBefore->identifier + "\" calibration_matrix " + set.swayBefore->matrix
            + "'";
    std::string commands;
    for (const XPropertyBefore &old : set.xBefore)
        commands += (commands.empty() ? "" : "; ") + old.undo;
    return commands;
}

std::string xChainText(const XChain &chain)
{
    std::string numbers = std::to_string(chain.id) + (chain.affine ? " 1" : " 0");
    char number[32];
    for (const Matrix &matrix : {chain.transformation, chain.libinput}) {
        for (const double value : matrix.v) {
            std::snprintf(number, sizeof number, " %.17g", value);
            numbers += number;
        }
    }
    return numbers + '\n' + chain.name;
}

std::optional<XChain> readXChain(const std::string &text)
{
    const std::vector<std::string> parts = lines(text);
    if (parts.size() != 2)
        return std::nullopt;
    std::istringstream in(parts[0]);
    XChain chain;
    int affine = 0;
    if (!(in >> chain.id >> affine) || (affine != 0 && affine != 1))
        return std::nullopt;
    chain.affine = affine == 1;
    for (Matrix *matrix : {&chain.transformation, &chain.libinput}) {
        for (double &value : matrix->v) {
            if (!(in >> value) || !std::isfinite(value))
                return std::nullopt;
        }
    }
    std::string more;
    if (in >> more)
        return std::nullopt;
    chain.name = printable(parts[1]);
    return chain;
}
