#include "platform/xml/Xmldocument.h"
#include "platform/xml/Xmlescape.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <unistd.h>

#include "platform/base/Exception.h"

namespace {
class XmlDocumentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() /
              ("vultari-xml-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string Write(const std::string& leaf, const std::string& bytes)
    {
        auto path = (dir / leaf).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // The message of the Exception the load throws; fails the test when nothing is thrown.
    std::string LoadError(const std::string& path)
    {
        try {
            document.LoadFromFile(path);
        } catch (const Exception& e) {
            return e.Message();
        }
        ADD_FAILURE() << "no error for " << path;
        return "";
    }

    std::filesystem::path dir;
    TXMLDocument document;
};

const char* kSample = R"(<?xml version="1.0"?>
<!-- a comment is no child -->
<root a="x &amp; y" n="42" neg=" -7 " bad="4.5">
  <first>one</first>
  <?pi is no sibling?>
  <second k="v"><inner/></second>
  <first>two</first>
  <text>a<![CDATA[ <b> ]]>c</text>
</root>
)";

TEST_F(XmlDocumentTest, NavigatesElementsOnly)
{
    document.LoadFromFile(Write("s.xml", kSample));
    IXMLNode root = document.DocumentElement();
    ASSERT_TRUE(root);
    EXPECT_EQ(root.NodeName(), "root");
    EXPECT_EQ(root.ChildCount(), 4);

    IXMLNode first = root.FindChild("first");
    EXPECT_EQ(first.Text(), "one");
    IXMLNode second = first.NextSibling();
    EXPECT_EQ(second.NodeName(), "second");
    EXPECT_EQ(second.Attribute("k"), "v");
    EXPECT_EQ(second.ChildCount(), 1);
    IXMLNode again = second.NextSibling();
    EXPECT_EQ(again.NodeName(), "first");
    EXPECT_EQ(again.Text(), "two");
    EXPECT_EQ(again.NextSibling().NodeName(), "text");
    EXPECT_TRUE(again.NextSibling().NextSibling().IsNull());
    EXPECT_EQ(root.FindChild("text").Text(), "a <b> c");
    EXPECT_TRUE(root.FindChild("inner").IsNull()) << "only direct children are searched";
    EXPECT_TRUE(root.FindChild("First").IsNull()) << "names are case-sensitive";
}

TEST_F(XmlDocumentTest, AttributesAsTextAndInteger)
{
    document.LoadFromFile(Write("s.xml", kSample));
    IXMLNode root = document.DocumentElement();
    EXPECT_EQ(root.Attribute("a"), "x & y");
    EXPECT_EQ(root.Attribute("missing"), "");
    EXPECT_EQ(root.AttributeInt("n"), 42);
    EXPECT_EQ(root.AttributeInt("neg"), -7);
    EXPECT_EQ(root.AttributeInt("bad"), std::nullopt);
    EXPECT_EQ(root.AttributeInt("a"), std::nullopt);
    EXPECT_EQ(root.AttributeInt("missing"), std::nullopt);
}

TEST_F(XmlDocumentTest, NullNodeAnswersNone)
{
    IXMLNode none;
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(none.ChildCount(), 0);
    EXPECT_TRUE(none.FindChild("x").IsNull());
    EXPECT_TRUE(none.NextSibling().IsNull());
    EXPECT_EQ(none.NodeName(), "");
    EXPECT_EQ(none.Attribute("x"), "");
    EXPECT_EQ(none.AttributeInt("x"), std::nullopt);
    EXPECT_EQ(none.Text(), "");
    EXPECT_TRUE(document.DocumentElement().IsNull()) << "a new document is empty";
}

TEST_F(XmlDocumentTest, DocumentsWithoutElementLoadEmpty)
{
    for (const char* text : {"", "   \n", "<?xml version=\"1.0\"?>\n<!-- nothing -->\n"}) {
        document.LoadFromFile(Write("e.xml", text));
        EXPECT_TRUE(document.DocumentElement().IsNull()) << text;
    }
}

TEST_F(XmlDocumentTest, ReadsOtherEncodings)
{
    document.LoadFromFile(Write("bom.xml", "\xEF\xBB\xBF<a n=\"1\"/>"));
    EXPECT_EQ(document.DocumentElement().NodeName(), "a");
    // UTF-16 little endian with its byte order mark.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("<b m=\"2\"/>")) {
        utf16 += c;
        utf16 += '\0';
    }
    document.LoadFromFile(Write("u16.xml", utf16));
    EXPECT_EQ(document.DocumentElement().NodeName(), "b");
    EXPECT_EQ(document.DocumentElement().AttributeInt("m"), 2);
}

struct BadDocument {
    const char* text;
    const char* fault;   // part of the message
    const char* where;
};

TEST_F(XmlDocumentTest, MalformedDocumentsThrowNamingFileAndFault)
{
    const BadDocument cases[] = {
        {"<a>", "mismatch", "line 1"},
        {"<a>\n<b></c>\n</a>", "mismatch", "line 2"},
        {"<a b=1/>", "attribute", "line 1"},
        {"hello", "text outside the root element", "line 1, column 1"},
        {"<a/>\ntrailing", "text outside the root element", "line 2, column 1"},
        {"<a/><b/>", "more than one root element", "column 5"},
        {"<a><!-- unterminated </a>", "comment", "line 1"},
        {"\x01\x02\x03binary", "text outside the root element", "line 1"},
    };
    for (const auto& c : cases) {
        std::string path = Write("bad.xml", c.text);
        std::string message = LoadError(path);
        if (message.empty())
            continue;
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_NE(message.find(c.fault), std::string::npos) << c.text << " -> " << message;
        EXPECT_NE(message.find(c.where), std::string::npos) << c.text << " -> " << message;
        EXPECT_TRUE(document.DocumentElement().IsNull()) << "a failed load leaves no content";
    }
}

TEST_F(XmlDocumentTest, NulBytesAreRefused)
{
    std::string message = LoadError(Write("nul.xml", std::string("<a>\n<b/>\0</a>", 12)));
    EXPECT_NE(message.find("NUL byte (line 2, column 5)"), std::string::npos) << message;
    message = LoadError(Write("bin.xml", std::string("\0\x01\x02 garbage", 12)));
    EXPECT_NE(message.find("NUL byte"), std::string::npos) << message;
}

TEST_F(XmlDocumentTest, UnreadableFilesThrowNamingTheFile)
{
    std::string missing = (dir / "no such.dae").string();
    std::string message = LoadError(missing);
    EXPECT_NE(message.find(missing), std::string::npos) << message;
    EXPECT_NE(message.find("cannot find"), std::string::npos) << message;

    message = LoadError(dir.string());
    EXPECT_NE(message.find("folder"), std::string::npos) << message;
}

TEST_F(XmlDocumentTest, LoadReplacesEarlierContent)
{
    document.LoadFromFile(Write("one.xml", "<one/>"));
    IXMLNode one = document.DocumentElement();
    EXPECT_EQ(one.NodeName(), "one");
    document.LoadFromFile(Write("two.xml", "<two><c/></two>"));
    EXPECT_EQ(document.DocumentElement().NodeName(), "two");
    EXPECT_EQ(document.DocumentElement().ChildCount(), 1);
    LoadError(Write("bad.xml", "<three>"));
    EXPECT_TRUE(document.DocumentElement().IsNull());
}

TEST(XmlEscape, MakesAnyTextSafeInAttributesAndElements)
{
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"plain name", "plain name"},
        {"a&b", "a&amp;b"},
        {"<tag>", "&lt;tag&gt;"},
        {"say \"hi\"", "say &quot;hi&quot;"},
        {"it's", "it's"},
        {"tab\tline\ncr\r", "tab\tline\ncr\r"},
        {std::string("bell\x07nul\0end", 12), "bellnulend"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XmlEscape(c.in), c.out);
        // Whatever the input, the escaped text parses back as an attribute value and as text.
        std::string doc = "<a v=\"" + XmlEscape(c.in) + "\">" + XmlEscape(c.in) + "</a>";
        pugi::xml_document parsed;
        ASSERT_TRUE(parsed.load_string(doc.c_str())) << doc;
    }
}
}
