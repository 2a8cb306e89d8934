#include "platform/base/Exception.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"

#include <gtest/gtest.h>

TEST(ProgramFolder, IsTheExecutablesFolderWithATrailingSlash)
{
    std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(IsAbsolutePath(folder));
}

TEST(ProgramFolder, OverrideAndDataPathRule)
{
    SetProgramFolder("/tmp/vultari-test");
    EXPECT_EQ(ProgramFolder(), "/tmp/vultari-test/");
    EXPECT_EQ(ResolveDataPath("data/x.bmp"), "/tmp/vultari-test/data/x.bmp");
    EXPECT_EQ(ResolveDataPath("/abs/x.bmp"), "/abs/x.bmp");
    SetProgramFolder("");
    EXPECT_NE(ProgramFolder(), "/tmp/vultari-test/");
}

TEST(Messages, CaptureRecordsAndRestores)
{
    std::vector<std::string> outer;
    MessageSink before = SetMessageSink([&](const std::string& t) { outer.push_back(t); });
    {
        ScopedMessageCapture capture;
        ShowMessage("Error: Front image not loaded");
        ASSERT_EQ(capture.Texts().size(), 1u);
        EXPECT_EQ(capture.Texts()[0], "Error: Front image not loaded");
    }
    ShowMessage("after");
    EXPECT_EQ(outer, std::vector<std::string>{"after"});
    SetMessageSink(before);
}

TEST(Exception, FileOpenErrorNamesTheFile)
{
    Exception e = FileOpenError("/x/data/weights/eyes.wgh");
    EXPECT_NE(e.Message().find("\"/x/data/weights/eyes.wgh\""), std::string::npos);
}
