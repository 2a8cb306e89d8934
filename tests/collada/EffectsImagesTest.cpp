#include "ColladaFixture.h"

namespace {
using testing_collada::ColladaTest;

class EffectRead : public ColladaTest {
protected:
    std::string ImageOf(const std::string& profileBody)
    {
        TEffect effect;
        EXPECT_TRUE(effect.Load(Parse("<effect id=\"e\" name=\"Skin-fx\"><profile_COMMON>" + profileBody +
                                      "</profile_COMMON></effect>")));
        EXPECT_EQ(effect.name, "Skin-fx");
        EXPECT_EQ(effect.imageIndex, -1);
        EXPECT_EQ(effect.shaderIndex, -1);
        return effect.imageName;
    }
};

const char* kSampler = "<newparam sid=\"s\"><sampler2D><source>x-surface</source></sampler2D></newparam>";

TEST_F(EffectRead, ImageOfTheFirstSurfaceParameter)
{
    struct Case {
        std::string body;
        const char* image;
    };
    const Case cases[] = {
        {"<newparam sid=\"a\"><surface type=\"2D\"><init_from>skin_png</init_from></surface></newparam>" +
             std::string(kSampler), "skin_png"},
        {kSampler + std::string("<newparam><surface><init_from>second</init_from></surface></newparam>"), "second"},
        {"<newparam><surface/></newparam><newparam><surface><init_from>later</init_from></surface></newparam>", ""},
        {"<technique sid=\"common\"><phong/></technique>", ""},
        {"<newparam><surface><init_from> spaced name </init_from></surface></newparam>", " spaced name "},
        // Elements of other names between the parameters are passed over.
        {kSampler + std::string("<technique/><newparam><surface><init_from>img</init_from></surface></newparam>"), "img"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ImageOf(c.body), c.image) << c.body;
}

TEST_F(EffectRead, NoProfileMeansNoImage)
{
    TEffect effect;
    EXPECT_TRUE(effect.Load(Parse("<effect name=\"Plain\"><profile_GLSL/></effect>")));
    EXPECT_EQ(effect.name, "Plain");
    EXPECT_EQ(effect.imageName, "");
}

TEST_F(EffectRead, LibraryTakesEveryElementFromTheFirstEffectOn)
{
    TLibraryEffects library;
    EXPECT_TRUE(library.Load(Parse("<library_effects><asset/>"
                                   "<effect name=\"A-fx\"/><effect name=\"B-fx\"/><effect name=\"A-fx\"/>"
                                   "<extra name=\"X\"/></library_effects>")));
    ASSERT_EQ(library.effects.size(), 4u);
    EXPECT_EQ(library.effects[3]->name, "X");
    EXPECT_EQ(library.IndexOf("A-fx"), 0);
    EXPECT_EQ(library.IndexOf("B-fx"), 1);
    EXPECT_EQ(library.IndexOf("a-fx"), -1);
    EXPECT_EQ(library.IndexOf("asset"), -1);

    TLibraryEffects none;
    EXPECT_TRUE(none.Load(Parse("<library_effects><asset/></library_effects>")));
    EXPECT_TRUE(none.effects.empty());
}

class ImageRead : public ColladaTest {};

TEST_F(ImageRead, EntriesWithInitFromFromTheFirstImageOn)
{
    TLibraryImages library;
    EXPECT_TRUE(library.Load(Parse("<library_images><asset/>"
                                   "<image id=\"i1\" name=\"skin\"><init_from>C:\\maps\\skin.bmp</init_from></image>"
                                   "<image name=\"none\"/>"
                                   "<texture name=\"other\"><init_from>other.png</init_from></texture>"
                                   "<image id=\"nameless\"><init_from>n.png</init_from></image>"
                                   "<image name=\"skin\"><init_from>again.bmp</init_from></image>"
                                   "</library_images>")));
    EXPECT_EQ(library.names, (std::vector<std::string>{"skin", "other", "", "skin"}));
    EXPECT_EQ(library.files, (std::vector<std::string>{"C:\\maps\\skin.bmp", "other.png", "n.png", "again.bmp"}));
    EXPECT_EQ(library.IndexOf("skin"), 0);
    EXPECT_EQ(library.IndexOf("Skin"), -1);
    EXPECT_EQ(library.IndexOf("other"), 1);
    EXPECT_EQ(library.IndexOf("none"), -1);
    EXPECT_EQ(library.IndexOf("i1"), -1) << "ids are not stored";
}
}
