#pragma once
// The generic head's own front photo, drawn without GL so that the generator can take it at build
// time: the camera, light and paint of the known heads' photos (testing/KnownHeadPhotos draws them
// with the program's engine), and the two facts the front recognizer's first steps measure on it.
#include <opencv2/core.hpp>

#include "tools/genhead/Generic.h"
#include "tools/genhead/Paint.h"

// The photos' size (the main window's 3D panel) and orthographic camera: kPhotoHalfHeight model
// units above and below the centre, the face looking at the camera.
inline constexpr int kPhotoWidth = 697;
inline constexpr int kPhotoHeight = 647;
inline constexpr double kPhotoHalfHeight = 6.0;

// Background of the photos: a blue that no skin table takes for skin (BGR).
inline const cv::Vec3b kPhotoBackground(170, 100, 40);

// Light of the photos: a flash on the camera and a bright ambient, so that every part of the face
// keeps a colour the skin table accepts. The material is GL's default (ambient 0.2, diffuse 0.8)
// under GL's default scene ambient (0.2).
inline constexpr float kPhotoAmbient = 0.5f;
inline constexpr float kPhotoDiffuse = 0.55f;

// The head and its eyeballs front on, lit per vertex and textured with the given paint, as the
// fixed pipeline draws them (bilinear texels, nearest surface wins).
cv::Mat DrawFrontPhoto(const GenericData& generic, const cv::Mat& skin, const cv::Mat& eye);

// What the front recognizer's face detection and outline scan find on a front photo of a head
// whose true points are `facts.front`: the mean outline's share of the head's full width and the
// crown's height above the face rectangle's centre, in head widths.
struct PhotoFacts {
    double outlineShare = 0, crownAboveFaceCentre = 0;
};
// Throws std::runtime_error when the recognizer's cascade or skin table is missing from the
// program folder, or when it finds no face or no outline on the photo.
PhotoFacts MeasurePhotoFacts(const TGenericHead& facts, const cv::Mat& photo);

// The photo of the head with its own look, measured.
PhotoFacts MeasureOwnPhoto(const GenericData& generic);
