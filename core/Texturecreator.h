#pragma once
// TTextureCreator: builds the head texture atlas from the two photos, fits the head's and the hair's
// texture coordinates to it, cuts the eye texture, paints skin and hair patches and derives the
// normal map. It has no data of its own; every operation uses only its arguments.
//
// Images are cv::Mat, 8-bit, 3 channels in blue-green-red order; an empty Mat stands for "no image".
// Pixel (x, y) is column x, row y; texture coordinate (u, v) of atlas pixel (x, y) is
// (x / Wa, 1 - y / Ha): u grows to the right, v upwards.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

class THeadAttributes;
class TGeometry;
class TWeightManager;
struct TGenericHead;

// The measures of one atlas, in pixels of the scaled point set (see CreateTexture).
struct TAtlasLayout {
    int H = 0;   // front face height |f23.y - f24.y|
    int W = 0;   // front head width |f25.x - f26.x|
    int E = 0;   // left eye's left border to right eye's right border |f2.x - f8.x|
    int P = 0;   // profile eye centre to back of the head |p11.x - p1.x|
    int O = 0;   // overlap, rounded(W * 0.09)
    int M = 0;   // margin, rounded(H * 0.15)
    int S = 0;   // seam (cross-fade width), rounded(W * 0.1)
    int Q = 0;   // profile part kept on each side, P - O
    int Wa = 0;  // atlas width 2M + 2Q + E
    int Ha = 0;  // atlas height 2M + H
    // False when the points cannot make an atlas (no face height, no eye span, Q < 0, or a size
    // beyond what one texture may be); `problem` then says which.
    bool valid = false;
    std::string problem;
};

// A 2D texture-space point or offset.
struct TTexCoord {
    float u = 0, v = 0;
};

// The head as the deformation left it: its positions before the deformation (the generic head's)
// and the whole-head scales it applied about the nose tip; the head geometry holds the positions
// after it.
struct TDeformedHead {
    std::vector<float> before;
    float heightScale = 1, depthScale = 1;
};

// Where the fitted coordinates put the mesh's eye openings (the middle of each eye's rim), in
// texture space; negative when the fit had no head.
struct TFittedFeatures {
    TTexCoord leftEye{-1, -1}, rightEye{-1, -1};
};

// Where the patch groups take their hair and their chin-band skin from, in atlas pixels; a
// negative coordinate keeps the group's own source.
struct TPatchSources {
    cv::Point hair{-1, -1};
    cv::Point chin{-1, -1};
    int chinRadius = 0;  // the chin band's patches, with `chin`
    // The mesh's eye openings, where the skin over each eye goes (see TFittedFeatures).
    cv::Point leftEye{-1, -1}, rightEye{-1, -1};
};

// Where the hair strands and the hair patches take their colour from, in atlas pixels; a negative
// coordinate keeps their own place.
struct THairSources {
    cv::Point strands{-1, -1};
    cv::Point patches{-1, -1};
};

class TTextureCreator {
public:
    // The whole build. Rewrites head->texCoords and hairs->texCoords in place, writes
    // ProgramFolder() + "data/textures/eye.bmp" and "data/textures/normalmap.bmp", and returns the
    // atlas. Returns an empty Mat and changes nothing when a photo or the point set is missing;
    // returns an empty Mat with a message, before anything is changed, when the points cannot
    // make an atlas. The profile points must be in their left-facing form. With the photos' skin
    // masks (8-bit, non-zero on skin, each its photo's size), the photos' background is kept out
    // of the atlas (see KeepBackgroundOut). With `normalMapOut`, the normal map is handed back
    // there instead of written: the caller writes it (meanwhile doing other work). With `deformed`,
    // the head geometry is the deformed head and its texture coordinates follow where its features
    // are (see FitTextureCoordinates).
    cv::Mat CreateTexture(const cv::Mat& frontPhoto, const cv::Mat& profilePhoto, const THeadAttributes* attributes,
                          TGeometry* headGeometry, TGeometry* hairsGeometry, const TWeightManager* weights,
                          const TGenericHead& generic, const cv::Mat& frontSkin = cv::Mat(),
                          const cv::Mat& profileSkin = cv::Mat(), cv::Mat* normalMapOut = nullptr,
                          const TDeformedHead* deformed = nullptr);

    // A photo's background: the pixels that are not skin and are reached, without a step in colour,
    // from the places of the photo's edge that show the backdrop (the colour most of the edge
    // shows), so that hair, brows and eyes, set off from the backdrop by an edge, stay; on a plain
    // backdrop also every other non-skin pixel of its colour; widened over the blended pixels of
    // the head's outline.
    static cv::Mat BackgroundMask(const cv::Mat& photo, const cv::Mat& skin);
    // Paints every atlas pixel that `background` (atlas-sized, non-zero) marks with the colour of
    // the nearest unmarked pixel, softened, so that no head texel shows the photo's background.
    static void KeepBackgroundOut(cv::Mat& atlas, const cv::Mat& background);

    // The atlas measures of a (scaled) point set; `valid` false for impossible sets.
    static TAtlasLayout MeasureAtlas(const THeadAttributes* scaled);
    // The global fit's u span of the face outline, in photo head widths: the outline over the crown
    // and the temples is this much wider in u than the head's width in the front photo.
    static constexpr float FaceOutlineWidths = 1.15f;
    // Composes the atlas (cleared black, then filled) from the two work images.
    static cv::Mat FillAtlas(const cv::Mat& frontWork, const cv::Mat& profileWork, const THeadAttributes* scaled,
                             const TAtlasLayout& layout);
    // Redraws the atlas where its front and profile parts meet: a cross-fade 0.15 head widths wide
    // from each eye's outer corner outwards, the front's share falling as (1 - t)^1.5 over it (t the
    // share of the fade behind), and with `matchColours` the profile's colours moved (per channel in
    // CIE Lab, by the mean) to those of the front's skin at the fade's start, fully
    // in the fade and fading out across the profile part to the back of the head. The skin masks (work
    // image sized, non-zero on skin; optional) choose the pixels the colours are measured on, the
    // profile's skin mask the pixels that take the match (its hair keeps its colours) and the front's
    // the pixels that keep the front's share (past the face's outline the profile takes over).
    // The front's skin the profile is matched to is of the face's colour (between the eyes and the
    // mouth), beyond the eye's outer corner or, where hair falls there, inside it.
    static void BlendSeams(cv::Mat& atlas, const cv::Mat& frontWork, const cv::Mat& profileWork,
                           const THeadAttributes* scaled, const TAtlasLayout& layout, bool matchColours,
                           const cv::Mat& frontSkin = cv::Mat(), const cv::Mat& profileSkin = cv::Mat());
    // Fits the head's texture coordinates to the atlas and the hair's to the hair area; returns
    // hairTarget, the hair patch source in texture space. The global fit lays the layout's nose tip
    // onto the photo's and its face outline over the photo's face; with `deformed` (the head
    // geometry's positions then being the deformed ones), every coordinate then follows its vertex's
    // regional move through the photo it shows. Then each of the six regions (eyes, nose, mouth,
    // ears) takes the move that lays the photo's feature onto where the mesh's feature is (without
    // `deformed`, at the layout's references, the features of the generic head's layout) and the
    // photo's size, fading out from the feature; then the clamp into the atlas. `features`, when
    // given, receives where the mesh's eyes ended.
    static TTexCoord FitTextureCoordinates(const THeadAttributes* scaled, const TAtlasLayout& layout,
                                           TGeometry* headGeometry, TGeometry* hairsGeometry,
                                           const TWeightManager* weights, const TGenericHead& generic,
                                           const TDeformedHead* deformed = nullptr, TFittedFeatures* features = nullptr);
    // The square eye texture cut around the left eye of the caller's (unscaled) points: from its outer
    // corner across its width, centred on the middle between its top and bottom, as the eyeball is
    // mapped from its opening; empty when the eye is narrower than 2 pixels.
    static cv::Mat CreateEyeTexture(const cv::Mat& frontPhoto, const THeadAttributes* attributes);
    // The ten patch groups over the atlas; returns the number of BlendPatch calls of each group.
    // Groups whose loop step would be 0 (a face under 8 pixels) are skipped.
    std::array<int, 10> PaintPatches(cv::Mat& atlas, const THeadAttributes* scaled, const TAtlasLayout& layout, TTexCoord hairTarget,
                                     const TPatchSources& sources = TPatchSources());
    // The share of `skin`'s pixels (atlas-sized, non-zero on skin) in the disc of `radius` around
    // `centre`; 0 for a disc off the atlas.
    static double SkinShare(const cv::Mat& skin, cv::Point centre, int radius);
    // The front photo's hair above the forehead: over the nose tip, going up from the eyes, the
    // first disc of 0.7 x (face height / 8) whose pixels are 60 % neither of the face's skin colour
    // (CIE Lab, between the eyes and the mouth) nor background: the hair line; the point half a
    // radius above it and below the top of the head, or (-1, -1) when there is none.
    static cv::Point FrontHair(const cv::Mat& atlas, const cv::Mat& background, const THeadAttributes* scaled,
                               const TAtlasLayout& layout);
    // Whether the disc of the hair source's radius around `centre` shows hair: less than half of it
    // skin (by `skin`, atlas-sized, when given) and 60 % of it of hair colour as FrontHair judges it.
    static bool ShowsHair(const cv::Mat& atlas, const cv::Mat& skin, const cv::Mat& background,
                          const THeadAttributes* scaled, const TAtlasLayout& layout, cv::Point centre);
    // The sources of the strands (placed at `strands`) and of the hair patches (at `patches`): the
    // first of the patches' place, the strands' place and the front photo's hair line that shows
    // hair, for each of the two whose own place shows none; with no hair anywhere the strands take
    // the patches' place.
    static THairSources HairSources(const cv::Mat& atlas, const cv::Mat& skin, const cv::Mat& background,
                                    const THeadAttributes* scaled, const TAtlasLayout& layout, cv::Point strands,
                                    cv::Point patches);
    // Skin near the chin for the band below it: the centre of the most even disc (spread of its Lab
    // colours) that fits between the lower lip and the chin, across the mouth's width at their
    // middle height, and is 90 % skin (when `skin`, atlas-sized, is given); its radius in `radius`.
    // (-1, -1) when none fits.
    static cv::Point ChinSkin(const cv::Mat& atlas, const cv::Mat& skin, const THeadAttributes* scaled,
                              const TAtlasLayout& layout, int* radius = nullptr);

    // Feathered copy of the round patch of radius r around (cx, cy) in source onto (tx, ty) in
    // target: opaque within hardness * r, fading to nothing at r. Reads source as it was before the
    // call, so source and target may be the same image.
    void BlendPatch(const cv::Mat& source, cv::Mat& target, int cx, int cy, int tx, int ty, int radius, float hardness);
    // Tangent-space normal map of an image's grey levels; the last column and row keep the image's pixels.
    cv::Mat CreateNormalMap(const cv::Mat& image);

    // Pixel and arithmetic operations. GetPixel and SetPixel do no bounds check; the others ignore
    // positions outside their images.
    static int Abs(int a);
    static uint8_t GetPixel(const cv::Mat& image, int x, int y, int channel);
    static void SetPixel(cv::Mat& image, int x, int y, uint8_t value, int channel);
    static void CopyPixel(const cv::Mat& source, cv::Mat& target, int sx, int sy, int dx, int dy);
    static void BlendPixel(const cv::Mat& a, const cv::Mat& b, cv::Mat& target, float t, int ax, int ay, int bx, int by,
                           int dx, int dy);
    static float Lerp(float a, float b, float t);
    static float Distance(float x1, float y1, float x2, float y2);
    static float Clamp(float v, float lo, float hi);
    static float Min(float a, float b);
    static float Max(float a, float b);
    // Weight falloff of the local warps: 1 below 0.045, linear to 0 at 0.09.
    static float Falloff(float d);
};
