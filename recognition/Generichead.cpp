#include "recognition/Generichead.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "platform/base/Exception.h"

namespace {
// One entry of the file: a key, a sub-key (an index or a name; empty for none) and its numbers.
struct TEntry {
    std::string key, sub;
    std::vector<double*> values;
    const char* about = "";  // shown in the file's header once per key
};

std::vector<TEntry> Entries(TGenericHead& h)
{
    std::vector<TEntry> e;
    auto point = [&](const char* key, std::string sub, TModelPoint& p, const char* about) {
        e.push_back({key, std::move(sub), {&p.x, &p.y, &p.z}, about});
    };
    for (int i = 0; i < FrontPoint::Count; ++i)
        point("front", std::to_string(i), h.front[size_t(i)], "front point <index>: x y z (the front photo sees x, -z)");
    for (int i = 0; i < ProfilePoint::Count; ++i)
        point("profile", std::to_string(i), h.profile[size_t(i)],
              "profile point <index>, left-facing: x y z (the profile photo sees y, -z)");
    const char* anchor = "where the deformation measures a region's move from: x y z";
    point("anchor", "mouth", h.mouth, anchor);
    point("anchor", "left_eye", h.leftEye, anchor);
    point("anchor", "right_eye", h.rightEye, anchor);
    point("anchor", "left_ear", h.leftEar, anchor);
    point("anchor", "right_ear", h.rightEar, anchor);
    e.push_back({"nose_stretch_y", "", {&h.noseStretchY}, "the plane the nose's depth stretches about"});
    for (int i = 0; i < LayoutRef::Count; ++i)
        e.push_back({"layout", std::to_string(i), {&h.layout[size_t(i)].u, &h.layout[size_t(i)].v},
                     "texture layout reference <index>: u v"});
    const char* push = "how far eyes.dae keeps the eyeball in front of its place (-y)";
    e.push_back({"eyeball_push_back", "left", {&h.leftEyePushBack}, push});
    e.push_back({"eyeball_push_back", "right", {&h.rightEyePushBack}, push});
    e.push_back({"outline_share", "", {&h.outlineShare}, "mean skin outline over full head width, own front photo"});
    e.push_back({"crown_above_face_centre", "", {&h.crownAboveFaceCentre},
                 "crown above the face rectangle's centre in head widths, own front photo"});
    e.push_back({"brow_over_tip", "", {&h.browOverTip}, "brow above the nose tip over crown-to-chin height"});
    e.push_back({"profile_mouth", "", {&h.profileMouthBehindTip, &h.profileMouthAboveChin},
                 "profile mouth: behind the nose tip over head depth, above the chin over crown-to-chin height"});
    return e;
}

std::string NumberText(double v)
{
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("nan");
}

// The whitespace-separated words of a line.
std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> w;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r')
            ++j;
        if (j > i)
            w.push_back(line.substr(i, j - i));
        i = j;
    }
    return w;
}

std::string Name(const TEntry& e) { return e.sub.empty() ? e.key : e.key + " " + e.sub; }
}  // namespace

TGenericHead ParseGenericHead(std::string_view text, const std::string& name)
{
    TGenericHead h;
    std::vector<TEntry> entries = Entries(h);
    std::vector<int> seenAt(entries.size(), 0);
    auto fail = [&](int line, const std::string& what) {
        return Exception("The generic head's facts \"" + name + "\"" + (line > 0 ? ", line " + std::to_string(line) : "") +
                         ": " + what);
    };
    int lineNo = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        const std::vector<std::string_view> w = Words(line);
        if (w.empty() || w[0][0] == '#')
            continue;
        size_t found = entries.size();
        size_t first = 1;
        for (size_t k = 0; k < entries.size() && found == entries.size(); ++k) {
            if (w[0] != entries[k].key)
                continue;
            if (entries[k].sub.empty())
                found = k;
            else if (w.size() > 1 && w[1] == entries[k].sub)
                found = k, first = 2;
        }
        if (found == entries.size())
            throw fail(lineNo, "unknown entry \"" + std::string(line.substr(0, std::min<size_t>(line.size(), 40))) + "\"");
        TEntry& e = entries[found];
        if (seenAt[found])
            throw fail(lineNo, Name(e) + " given again (first on line " + std::to_string(seenAt[found]) + ")");
        if (w.size() - first != e.values.size())
            throw fail(lineNo, "expected " + std::to_string(e.values.size()) + " number" +
                                   (e.values.size() > 1 ? "s" : "") + " after \"" + Name(e) + "\", found " +
                                   std::to_string(w.size() - first));
        for (size_t k = 0; k < e.values.size(); ++k) {
            const std::string_view word = w[first + k];
            double v = 0;
            const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
            if (ec != std::errc() || ptr != word.data() + word.size() || !std::isfinite(v))
                throw fail(lineNo, "expected a number for " + Name(e) + ", found \"" + std::string(word) + "\"");
            *e.values[k] = v;
        }
        seenAt[found] = lineNo;
    }
    for (size_t k = 0; k < entries.size(); ++k)
        if (!seenAt[k])
            throw fail(0, "the entry \"" + Name(entries[k]) + "\" is missing");
    DeriveProportions(h);
    return h;
}

TGenericHead ReadGenericHead(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw FileOpenError(path, "The generic head's facts are needed; the data tree is incomplete");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw FileOpenError(path, "The file cannot be read");
    return ParseGenericHead(text.str(), path);
}

std::string GenericHeadText(const TGenericHead& head)
{
    TGenericHead copy = head;
    std::string out = "# The generic head's facts, written by genhead; model units (x across, y depth with the\n"
                      "# face toward -y, z up). One entry a line: <key> [<index or name>] <numbers>.\n";
    std::string lastKey;
    for (const TEntry& e : Entries(copy)) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string.
        if (e.key != lastKey)
            out.append("# ").append(e.key).append(": ").append(e.about).append("\n");
        lastKey = e.key;
        out += Name(e);
        for (const double* v : e.values)
            out.append(" ").append(NumberText(*v));
        out += "\n";
    }
    return out;
}

void DeriveProportions(TGenericHead& h)
{
    using namespace FrontPoint;
    const auto& f = h.front;
    TFrontProportions& p = h.proportions;
    // The front photo's view: x to the right, y down (-z), in head widths.
    const double width = f[RightHead].x - f[LeftHead].x;
    const double height = f[TopHead].z - f[BottomHead].z;
    if (!(width > 0) || !(height > 0))
        throw Exception("The generic head's facts: its head borders enclose no head (width " + NumberText(width) +
                        ", height " + NumberText(height) + ")");
    p.heightPerWidth = height / width;
    p.extremesBelowCrown = (f[TopHead].z - f[LeftHead].z) / height;
    p.centreShares.clear();
    for (int point : {LeftEyeCenter, RightEyeCenter, NoseTip, MouthCenter, LeftEar, RightEar})
        p.centreShares.push_back({point, (f[point].x - f[LeftHead].x) / width, (f[TopHead].z - f[point].z) / height});
    auto offset = [&](int point, int from) {
        return TFrontOffset{point, from, (f[point].x - f[from].x) / width, (f[from].z - f[point].z) / width};
    };
    p.mouthFromNose = offset(MouthCenter, NoseTip);
    p.borderOffsets.clear();
    const int groups[][5] = {{LeftEyeCenter, LeftEyeLeft, LeftEyeRight, LeftEyeTop, LeftEyeBottom},
                             {RightEyeCenter, RightEyeLeft, RightEyeRight, RightEyeTop, RightEyeBottom},
                             {MouthCenter, MouthLeft, MouthRight, MouthTop, MouthBottom},
                             {NoseTip, NoseLeft, NoseRight, NoseTop, NoseBottom}};
    for (const auto& g : groups)
        for (int k = 1; k < 5; ++k)
            p.borderOffsets.push_back(offset(g[k], g[0]));
}
