// SPDX-License-Identifier: MIT
#include "handover/handover.h"

#include "geometry/compositor_map.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

// The biggest screen a window may claim, in pixels on each side.
constexpr int kLargestSide = 1 << 16;

// The text split at newlines; nullopt unless it ends in one.
std::optional<std::vector<std::string>> lines(const std::string &text)
{
    if (text.empty() || text.back() != '\n')
        return std::nullopt;
    std::vector<std::string> all;
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        all.push_back(text.substr(from, end - from));
    return all;
}

// A decimal count written as handoverText writes it: digits only, no sign, no leading zero.
std::optional<long> count(const std::string &word)
{
    long value = 0;
    const auto read = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || word.size() > 9 || (word.size() > 1 && word[0] == '0') || word[0] == '-'
        || read.ec != std::errc() || read.ptr != word.data() + word.size())
        return std::nullopt;
    return value;
}

// The rest of line after "key ", when line starts so.
std::optional<std::string> field(const std::string &line, const std::string &key)
{
    if (line.compare(0, key.size() + 1, key + " ") != 0)
        return std::nullopt;
    return line.substr(key.size() + 1);
}

// Two counts separated by one blank.
std::optional<std::pair<long, long>> twoCounts(const std::optional<std::string> &words)
{
    const size_t blank = words ? words->find(' ') : std::string::npos;
    if (blank == std::string::npos)
        return std::nullopt;
    const auto first = count(words->substr(0, blank)), second = count(words->substr(blank + 1));
    if (!first || !second)
        return std::nullopt;
    return std::pair(*first, *second);
}

// Six numbers exactly as Matrix::text() writes them.
std::optional<Matrix> canonicalMatrix(const std::optional<std::string> &words)
{
    const std::optional<Matrix> matrix = words ? Matrix::parse(*words) : std::nullopt;
    if (!matrix || matrix->text() != *words)
        return std::nullopt;
    return matrix;
}

bool isSquareSymmetry(const Matrix &map)
{
    for (const Matrix &symmetry : squareSymmetries()) {
        if (symmetry.v == map.v)
            return true;
    }
    return false;
}

// The longest monitor name handed over.
constexpr size_t kLongestName = 255;

// X's screen and a monitor on it as handoverText writes them: six counts, then the name.
std::optional<XPlace> readXPlace(const std::string &words)
{
    long n[6];
    size_t from = 0;
    for (long &value : n) {
        const size_t blank = words.find(' ', from);
        const std::optional<long> read = blank == std::string::npos ? std::nullopt : count(words.substr(from, blank - from));
        if (!read)
            return std::nullopt;
        value = *read;
        from = blank + 1;
    }
    const std::string name = words.substr(from);
    const bool plain = !name.empty() && name.size() <= kLongestName && name.front() != ' ' && name.back() != ' '
        && std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
    if (!plain || n[0] < 1 || n[1] < 1 || n[0] > kLargestSide || n[1] > kLargestSide || n[4] < 1 || n[5] < 1
        || n[2] + n[4] > n[0] || n[3] + n[5] > n[1])
        return std::nullopt;
    return XPlace{static_cast<int>(n[0]), static_cast<int>(n[1]), static_cast<int>(n[2]), static_cast<int>(n[3]),
                  static_cast<int>(n[4]), static_cast<int>(n[5]), name};
}

std::optional<Handover> refused(std::string *problem, const std::string &why)
{
    *problem = "the window part's answer is not usable: " + why;
    return std::nullopt;
}

} // namespace

Matrix Handover::kept() const
{
    if (!compositor)
        return fit;
    const std::optional<Matrix> undone = compositor->inverse();
    return undone ? undone->after(fit) : fit;
}

std::string handoverText(const Handover &handover)
{
    return "kestrilavon-handover 2\ndevice " + std::to_string(handover.device) + "\nfit " + handover.fit.text()
        + "\ncompositor " + (handover.compositor ? handover.compositor->text() : std::string("none"))
        + "\npairs " + std::to_string(handover.paired) + " " + std::to_string(handover.targets) + "\nwindow "
        + std::to_string(handover.width) + " " + std::to_string(handover.height) + "\nbound "
        + std::to_string(handover.bound) + "\nx "
        + (handover.onX ? std::to_string(handover.onX->screenWidth) + " " + std::to_string(handover.onX->screenHeight)
                   + " " + std::to_string(handover.onX->x) + " " + std::to_string(handover.onX->y) + " "
                   + std::to_string(handover.onX->width) + " " + std::to_string(handover.onX->height) + " "
                   + handover.onX->monitor
                         : std::string("none"))
        + "\n";
}

std::optional<Handover> readHandover(const std::string &text, size_t devices, int targets,
                                     std::string *problem)
{
    if (text.size() > kHandoverLimit)
        return refused(problem, "longer than " + std::to_string(kHandoverLimit) + " bytes");
    const auto all = lines(text);
    if (!all || all->size() != 8 || (*all)[0] != "kestrilavon-handover 2")
        return refused(problem, "not eight lines of the hand-over's own format");
    Handover handover;
    const auto device = field((*all)[1], "device");
    const auto index = device ? count(*device) : std::nullopt;
    if (!index || static_cast<size_t>(*index) >= devices)
        return refused(problem, "no device of those opened");
    handover.device = static_cast<size_t>(*index);
    const auto fit = canonicalMatrix(field((*all)[2], "fit"));
    if (!fit)
        return refused(problem, "the fit is not six finite numbers");
    handover.fit = *fit;
    const auto map = field((*all)[3], "compositor");
    if (!map)
        return refused(problem, "no compositor line");
    if (*map != "none") {
        handover.compositor = canonicalMatrix(map);
        if (!handover.compositor || !isSquareSymmetry(*handover.compositor))
            return refused(problem, "the compositor's map is no turn or mirror");
    }
    const auto pairs = twoCounts(field((*all)[4], "pairs"));
    if (!pairs || pairs->second != targets || pairs->first > targets
        || (handover.compositor && static_cast<size_t>(pairs->first) < pairsNeeded(targets)))
        return refused(problem, "the counts of touches do not fit " + std::to_string(targets) + " targets");
    handover.paired = static_cast<int>(pairs->first);
    handover.targets = targets;
    const auto size = twoCounts(field((*all)[5], "window"));
    if (!size || size->first < 1 || size->second < 1 || size->first > kLargestSide || size->second > kLargestSide)
        return refused(problem, "the window's size is not a screen's");
    handover.width = static_cast<int>(size->first);
    handover.height = static_cast<int>(size->second);
    const auto bound = count(field((*all)[6], "bound").value_or(""));
    if (!bound || *bound < 12 || *bound > std::max(handover.width, handover.height))
        return refused(problem, "the check's bound is not a distance on the screen");
    handover.bound = static_cast<int>(*bound);
    const auto place = field((*all)[7], "x");
    if (!place || (*place != "none" && !(handover.onX = readXPlace(*place))))
        return refused(problem, "the X screen or its monitor is not one");
    for (const Matrix &matrix : {handover.fit, handover.kept()}) {
        const std::string trouble = matrix.driverProblem();
        if (!trouble.empty())
            return refused(problem, trouble);
    }
    return handover;
}

std::string touchVerdictText(const TouchVerdict &verdict)
{
    const std::string kind = verdict.kind == TouchVerdict::Kind::Kept ? "kept "
        : verdict.kind == TouchVerdict::Kind::Off                    ? "off "
                                                                     : "none ";
    return "kestrilavon-touch-check 1\n" + kind
        + (verdict.kind == TouchVerdict::Kind::None ? verdict.none : std::to_string(verdict.pixels)) + "\n";
}

std::optional<TouchVerdict> readTouchVerdict(const std::string &text, int bound)
{
    const auto all = text.size() <= kHandoverLimit ? lines(text) : std::nullopt;
    if (!all || all->size() != 2 || (*all)[0] != "kestrilavon-touch-check 1")
        return std::nullopt;
    TouchVerdict verdict;
    const std::string &answer = (*all)[1];
    if (const auto none = field(answer, "none")) {
        if (*none != "timeout" && *none != "esc" && *none != "closed")
            return std::nullopt;
        verdict.none = *none;
        return verdict;
    }
    const auto kept = field(answer, "kept"), off = field(answer, "off");
    const auto pixels = count(kept ? *kept : off.value_or(""));
    if (!pixels || *pixels > kLargestSide || (kept && *pixels > bound))
        return std::nullopt;
    verdict.kind = kept ? TouchVerdict::Kind::Kept : TouchVerdict::Kind::Off;
    verdict.pixels = static_cast<int>(*pixels);
    return verdict;
}

std::string reportText(bool kept, const std::string &report)
{
    return (kept ? "kept\n" : "not kept\n") + report;
}

std::optional<RootReport> readReport(const std::string &text)
{
    const size_t end = text.find('\n');
    if (end == std::string::npos)
        return std::nullopt;
    const std::string outcome = text.substr(0, end);
    if (outcome != "kept" && outcome != "not kept")
        return std::nullopt;
    return RootReport{outcome == "kept", text.substr(end + 1)};
}
