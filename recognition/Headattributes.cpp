#include "recognition/Headattributes.h"

#include "platform/base/Numbers.h"

namespace {
struct PointSpec {
    const char* name;
    double fx, fy; // default position as fractions of the photo's width and height
};

// Indexed like THeadAttributes::front.
const PointSpec kFront[FrontPoint::Count] = {
    {"Head center", 0.5, 0.5},
    {"Left eye's center", 0.4326, 0.4868},
    {"Left eye's left border", 0.4004, 0.4868},
    {"Left eye's right border", 0.4612, 0.4868},
    {"Left eye's top border", 0.4326, 0.4736},
    {"Left eye's bottom border", 0.4326, 0.5},
    {"Right eye's center", 0.5664, 0.4868},
    {"Right eye's left border", 0.5342, 0.4868},
    {"Right eye's right border", 0.5928, 0.4868},
    {"Right eye's top border", 0.5664, 0.4736},
    {"Right eye's bottom border", 0.5664, 0.5},
    {"Mouth center", 0.5, 0.6877},
    {"Mouth left border", 0.4492, 0.6877},
    {"Mouth right border", 0.5469, 0.6877},
    {"Mouth top border", 0.5, 0.6584},
    {"Mouth bottom border", 0.5, 0.7097},
    {"Tip of the Nose", 0.4971, 0.5836},
    {"Nose left border", 0.4663, 0.5836},
    {"Nose right border", 0.5276, 0.5836},
    {"Nose top border", 0.4971, 0.4828},
    {"Nose bottom border", 0.4971, 0.6253},
    {"Left ear's center", 0.3506, 0.5205},
    {"Right ear's center", 0.6455, 0.5205},
    {"Bottom head boreder", 0.5, 0.8299},
    {"Top head border", 0.5, 0.2141},
    {"Left head border", 0.3584, 0.5},
    {"Right head border", 0.6377, 0.5},
};

const PointSpec kProfile[ProfilePoint::Count] = {
    {"Head center", 0.5, 0.5},
    {"Eye center", 0.3764, 0.4884},
    {"Mouth center", 0.3624, 0.6819},
    {"Tip of the nose", 0.3048, 0.6052},
    {"Nose root", 0.3410, 0.4793},
    {"Ear center", 0.5843, 0.5011},
    {"Ear's left border", 0.5463, 0.5011},
    {"Ear's right border", 0.6236, 0.5011},
    {"Ear's top border", 0.5843, 0.3915},
    {"Ear's bottom border", 0.5843, 0.6060},
    {"Left head border", 0.3006, 0.5},
    {"Right head border", 0.7034, 0.5},
    {"Top head border", 0.5, 0.1239},
    {"Bottom head border", 0.5, 0.8357},
};

// The root's children decide the picking order of the editor: earlier children win.
const int kFrontRootChildren[] = {1, 6, 11, 16, 21, 22, 25, 26, 24, 23};
const int kFrontCentres[] = {1, 6, 11, 16}; // each owns the four borders after it
const int kProfileRootChildren[] = {1, 2, 3, 5, 10, 11, 12, 13};

void SetDefault(THPoint* point, const PointSpec& spec, int width, int height)
{
    point->SetPosition(RoundHalfEven(double(width) * spec.fx), RoundHalfEven(double(height) * spec.fy));
}
}

THeadAttributes::THeadAttributes() : profileOrientation(0)
{
    for (int i = 0; i < FrontPoint::Count; ++i)
        front[i] = new THPoint(kFront[i].name, nullptr, 0, 0);
    for (int i = 0; i < ProfilePoint::Count; ++i)
        profile[i] = new THPoint(kProfile[i].name, nullptr, 0, 0);

    for (int c : kFrontRootChildren)
        front[0]->AddChild(front[c]);
    for (int c : kFrontCentres)
        for (int k = 1; k <= 4; ++k)
            front[c]->AddChild(front[c + k]);

    for (int c : kProfileRootChildren)
        profile[0]->AddChild(profile[c]);
    profile[ProfilePoint::NoseTip]->AddChild(profile[ProfilePoint::NoseRoot]);
    for (int k = ProfilePoint::EarLeft; k <= ProfilePoint::EarBottom; ++k)
        profile[ProfilePoint::EarCenter]->AddChild(profile[k]);
}

THeadAttributes::~THeadAttributes()
{
    delete front[0];
    delete profile[0];
}

void THeadAttributes::SetDefaultFrontPositions(int width, int height)
{
    for (int i = 0; i < FrontPoint::Count; ++i)
        SetDefault(front[i], kFront[i], width, height);
}

void THeadAttributes::SetDefaultProfilePositions(int width, int height, bool keepOrientation)
{
    SetDefault(profile[0], kProfile[0], width, height);
    if (!keepOrientation)
        profileOrientation = 0;
    const bool restore = keepOrientation && profileOrientation == 1;
    if (restore)
        SetProfileOrientation(0, width);
    for (int i = 1; i < ProfilePoint::Count; ++i)
        SetDefault(profile[i], kProfile[i], width, height);
    if (restore)
        SetProfileOrientation(1, width);
}

void THeadAttributes::SetProfileOrientation(int orientation, int width)
{
    if (orientation == profileOrientation)
        return;
    profile[0]->MirrorX(width);
    profileOrientation = orientation;
}

THeadAttributes* THeadAttributes::CloneScaledFront(float factor) const
{
    auto* copy = new THeadAttributes();
    for (int i = 0; i < FrontPoint::Count; ++i)
        copy->front[i]->SetScaled(front[i], factor);
    copy->profileOrientation = profileOrientation;
    for (int i = 0; i < ProfilePoint::Count; ++i)
        copy->profile[i]->CopyPosition(profile[i]);
    return copy;
}

THeadAttributes* THeadAttributes::CloneScaledProfile(float factor) const
{
    auto* copy = new THeadAttributes();
    for (int i = 0; i < FrontPoint::Count; ++i)
        copy->front[i]->CopyPosition(front[i]);
    copy->profileOrientation = profileOrientation;
    for (int i = 0; i < ProfilePoint::Count; ++i)
        copy->profile[i]->SetScaled(profile[i], factor);
    return copy;
}
