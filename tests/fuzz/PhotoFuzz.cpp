// libFuzzer target for photo loading and both recognitions: any file either fails to load and keeps
// the previous photo, or loads as an 8-bit colour photo on which front and profile recognition run
// and leave every point inside the photo. Reads the cascades and the skin table of the data tree
// beside the program, or in the folder that VULTARI_FUZZ_DATA names.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "recognition/Recognizer.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
std::unique_ptr<TRecognizer> recognizer;

bool Inside(const THPoint* p, const cv::Mat& photo)
{
    return p->x >= 0 && p->y >= 0 && p->x < photo.cols && p->y < photo.rows;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (const char* folder = std::getenv("VULTARI_FUZZ_DATA"); folder != nullptr && *folder != '\0')
        SetProgramFolder(folder);
    // One thread: the machine is shared, and a run is easier to follow.
    cv::setNumThreads(1);
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    std::vector<std::string> problems;
    SetMessageSink([&problems](const std::string& text) { problems.push_back(text); });
    recognizer = std::make_unique<TRecognizer>();
    SetMessageSink([](const std::string&) {});  // the messages of odd photos are expected
    if (!problems.empty()) {
        for (const std::string& text : problems)
            std::fprintf(stderr, "photo_fuzz: %s\n", text.c_str());
        std::fprintf(stderr,
                     "photo_fuzz: the data tree in %s is incomplete; build the targets recognition_data and generic_models or set "
                     "VULTARI_FUZZ_DATA to a folder that holds haarcascades/, data/SkinLocusYCrCb.jpg and data/models/generic_head.txt\n",
                     ProgramFolder().c_str());
        std::exit(1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzz::ScratchFile scratch(".img");
    const std::string& path = scratch.Write(data, size);
    TRecognizer& r = *recognizer;
    THeadAttributes attributes;

    const cv::Mat previousFront = r.frontImage;
    if (r.LoadFrontImage(path)) {
        FUZZ_REQUIRE(r.frontImage.type() == CV_8UC3 && !r.frontImage.empty());
        FUZZ_REQUIRE(r.RecognizeFront(&attributes));  // data tree and photo are there: no precondition fails
        for (const THPoint* p : attributes.front)
            FUZZ_REQUIRE(Inside(p, r.frontImage));
    } else {
        FUZZ_REQUIRE(r.frontImage.data == previousFront.data);
    }

    const cv::Mat previousProfile = r.profileImage;
    if (r.LoadProfileImage(path)) {
        FUZZ_REQUIRE(r.profileImage.type() == CV_8UC3 && !r.profileImage.empty());
        // False without a message when no face line is found; the points stay inside either way.
        r.RecognizeProfile(&attributes, false);
        for (const THPoint* p : attributes.profile)
            FUZZ_REQUIRE(Inside(p, r.profileImage));
    } else {
        FUZZ_REQUIRE(r.profileImage.data == previousProfile.data);
    }
    return 0;
}
