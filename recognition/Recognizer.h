#pragma once
// Photo analysis: the two photos, the skin-colour table, the Haar cascades, and the recognizers
// that place the front and profile feature points.
#include <bitset>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include "platform/image/Graphics.h"
#include "recognition/Generichead.h"
#include "recognition/Headattributes.h"

// Which cascade a detection uses.
enum class TCascadeKind { FrontFace, Eyes, Nose, Mouth, ProfileFace };

struct TDetectParams {
    double scaleFactor = 1.1;
    int minNeighbors = 3;
    cv::Size minSize{0, 0};
    bool biggestOnly = false; // return at most one rectangle, the largest
    // Where the searched image lies in the photo: its pixel (u, v) shows the photo's point
    // origin + (u, v) / scale. Hits are in the searched image's pixels.
    cv::Point2d origin{0, 0};
    double scale = 1;
};

// What the last recognitions measured in the photo: a set bit marks a point whose measurement
// failed (or that is never measured) and that the generic head's proportions placed instead.
struct TRecognitionReport {
    std::bitset<FrontPoint::Count> frontFallback;
    std::bitset<ProfilePoint::Count> profileFallback;
    // The profile's facing cues disagreed: the photo was kept as loaded.
    bool facingUndecided = false;
};

// Finds objects in an 8-bit grey image; rectangles are in that image's pixels and inside it.
// The recognizer calls its detector for every detection, so that tests can hand it fixed hits.
using TDetector = std::function<std::vector<cv::Rect>(TCascadeKind kind, const cv::Mat& grey, const TDetectParams& params)>;

class TRecognizer {
public:
    // Skin-colour table as loaded (8-bit BGR): channel 0 at column Cr, row Cb is below 244 exactly
    // for skin colours. Empty when the file was missing; unusable when smaller than 256 x 256.
    cv::Mat skinLocus;
    std::unique_ptr<cv::CascadeClassifier> frontFaceCascade;   // null when it failed to load
    std::unique_ptr<cv::CascadeClassifier> profileFaceCascade; // breaks ties of the profile facing
    std::unique_ptr<cv::CascadeClassifier> eyeCascade;
    std::unique_ptr<cv::CascadeClassifier> noseCascade;
    std::unique_ptr<cv::CascadeClassifier> mouthCascade;
    cv::Mat frontImage;   // 8-bit BGR; empty until loaded. Front recognition shrinks it to <= 1300 px
    cv::Mat profileImage; // 8-bit BGR; empty until loaded. Profile recognition shrinks it and keeps
                          // it in the left-facing form (flipped when the face looked the other way)

    // Runs the cascades of this recognizer; replace it to feed given hits.
    TDetector detector;
    // Filled by RecognizeFront (the front half) and RecognizeProfile (the profile half).
    TRecognitionReport report;

    // What the last recognition of each photo missed: the front's face (the default head box then
    // stands in), or the profile's skin outline or face line (its points then stay at their
    // defaults). False also when a recognition stopped before it looked (with its message).
    bool frontFaceMissing = false;
    bool profileOutlineMissing = false;

    // The generic head the recognized points are to mean what its own points mean; null when its
    // facts did not load (recognition then refuses with a message). genericError says why.
    std::shared_ptr<const TGenericHead> generic;
    std::string genericError;

    // Loads the skin table, the five cascades and the generic head's facts from the program folder,
    // with one message for each that is missing. The object is usable in any case.
    TRecognizer();
    // The same with the generic head's facts given (already read by the caller).
    explicit TRecognizer(std::shared_ptr<const TGenericHead> genericHead);
    ~TRecognizer();
    TRecognizer(const TRecognizer&) = delete;
    TRecognizer& operator=(const TRecognizer&) = delete;

    // Loads a photo as 8-bit BGR. On failure returns false and keeps the previous photo; a file
    // refused before decoding (not a regular file, a size outside the limits of PhotoFile.h) puts
    // the reason into `problem`, which stays empty for a file that does not decode.
    bool LoadFrontImage(const std::string& path, std::string* problem = nullptr);
    bool LoadProfileImage(const std::string& path, std::string* problem = nullptr);

    // Byte at column x, row y, channel of an 8-bit image. No bounds check: callers stay inside.
    static int GetPixel(const cv::Mat& image, int x, int y, int channel);
    static void SetPixel(cv::Mat& image, int x, int y, int value, int channel);
    static int Median3(int a, int b, int c);
    static int Abs(int v);

    // A bitmap with the image's pixels (grey and 4-channel 8-bit images are converted).
    // Shows "Error: canot convert image to bitmap" and returns what was filled when copying fails.
    std::unique_ptr<TBitmap> ImageToBitmap(const cv::Mat& image) const;
    // A copy whose larger side is maxSide when the image is larger (or always, with force); each
    // side at least 1 pixel. Empty for maxSide < 1 or an empty image.
    cv::Mat ResizeToMax(const cv::Mat& image, int maxSide, bool force) const;
    std::unique_ptr<TBitmap> ResizedBitmap(const cv::Mat& image, int maxSide, bool force) const;

    // True when the skin table can be read at every (Cr, Cb).
    bool SkinTableUsable() const;
    // The photo's skin mask by this table (8-bit, 255 where the colour is skin); empty when the
    // table is not usable.
    cv::Mat SkinOf(const cv::Mat& photo) const;

    // Places the 27 front points on the front photo. False (with a message) when a precondition fails.
    bool RecognizeFront(THeadAttributes* attributes);
    // The first steps of RecognizeFront alone, on the front photo as it shrinks it: the largest
    // face and the mean x of each side's skin outline around it, what the head box is placed from
    // by the generic head's outline share and crown height. The generator measures those two on
    // the head's own photo with it. Needs the front-face cascade and the skin table.
    struct TFaceOutline {
        bool faceFound = false, outlineFound = false;
        cv::Rect face;
        double meanLeft = 0, meanRight = 0;
    };
    TFaceOutline MeasureFaceOutline();
    // Places the 14 profile points; without keepOrientation it first decides the facing direction.
    // False with a message when a precondition fails, false without one when no face line is found.
    bool RecognizeProfile(THeadAttributes* attributes, bool keepOrientation);
    // Flips a right-facing profile photo to the left-facing form and sets the orientation flag.
    void DetectProfileOrientation(THeadAttributes* attributes);

private:
    std::vector<cv::Rect> DetectWithCascades(TCascadeKind kind, const cv::Mat& grey, const TDetectParams& params) const;
    // The profile-face cascade finds faces that look toward smaller x: +1 when it finds more of them
    // in the photo than in its mirror image, -1 when fewer, 0 when as many.
    int ProfileFaceVote(const cv::Mat& photo) const;
};
