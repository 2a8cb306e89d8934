#include "platform/xml/Xmldocument.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <pugixml.hpp>
#include <vector>

#include "platform/base/Exception.h"
#include "platform/base/Numbers.h"

namespace {
pugi::xml_node Wrap(pugi::xml_node_struct* n) { return pugi::xml_node(n); }

bool IsElement(const pugi::xml_node& n) { return n.type() == pugi::node_element; }

// UTF-16 and UTF-32 text, with or without a byte order mark, holds NUL bytes of its own.
bool IsWideEncoding(const std::vector<char>& data)
{
    auto at = [&](size_t i) { return i < data.size() ? static_cast<unsigned char>(data[i]) : 0x100u; };
    return (at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF) ||
           (at(0) == 0x00 && at(1) == 0x00 && at(2) == 0xFE && at(3) == 0xFF) ||
           (at(0) == '<' && at(1) == 0x00) || (at(0) == 0x00 && at(1) == '<') ||
           (at(0) == 0x00 && at(1) == 0x00 && at(2) == 0x00 && at(3) == '<');
}

// Line and column (1-based) of a byte offset, for the error message.
void LineAndColumn(const std::vector<char>& data, ptrdiff_t offset, long& line, long& column)
{
    line = 1;
    column = 1;
    ptrdiff_t end = std::min<ptrdiff_t>(offset, static_cast<ptrdiff_t>(data.size()));
    for (ptrdiff_t i = 0; i < end; ++i) {
        if (data[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
}
}

int IXMLNode::ChildCount() const
{
    int count = 0;
    for (pugi::xml_node c = Wrap(node).first_child(); c; c = c.next_sibling())
        if (IsElement(c))
            ++count;
    return count;
}

IXMLNode IXMLNode::FindChild(std::string_view name) const
{
    for (pugi::xml_node c = Wrap(node).first_child(); c; c = c.next_sibling())
        if (IsElement(c) && name == c.name())
            return IXMLNode(c.internal_object());
    return IXMLNode();
}

IXMLNode IXMLNode::NextSibling() const
{
    if (!node)
        return IXMLNode();
    for (pugi::xml_node c = Wrap(node).next_sibling(); c; c = c.next_sibling())
        if (IsElement(c))
            return IXMLNode(c.internal_object());
    return IXMLNode();
}

std::string IXMLNode::NodeName() const { return Wrap(node).name(); }

std::string IXMLNode::Attribute(std::string_view name) const
{
    for (pugi::xml_attribute a = Wrap(node).first_attribute(); a; a = a.next_attribute())
        if (name == a.name())
            return a.value();
    return std::string();
}

std::optional<long long> IXMLNode::AttributeInt(std::string_view name) const
{
    for (pugi::xml_attribute a = Wrap(node).first_attribute(); a; a = a.next_attribute())
        if (name == a.name())
            return ParseInt(a.value());
    return std::nullopt;
}

std::string IXMLNode::Text() const
{
    std::string text;
    for (pugi::xml_node c = Wrap(node).first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
            text += c.value();
    return text;
}

TXMLDocument::TXMLDocument() : document(std::make_unique<pugi::xml_document>()) {}

TXMLDocument::~TXMLDocument() = default;

void TXMLDocument::LoadFromFile(const std::string& fileName)
{
    document->reset();
    std::error_code ec;
    if (std::filesystem::is_directory(fileName, ec))
        throw FileOpenError(fileName, "It is a folder, not a file.");
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        int err = errno;
        throw FileOpenError(fileName, err == ENOENT || err == 0 ? "The system cannot find the file specified."
                                                                : std::string(std::strerror(err)) + ".");
    }
    // Read in blocks: a model file is megabytes, slow to copy one character at a time.
    std::vector<char> data;
    char block[1 << 16];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        data.insert(data.end(), block, block + in.gcount());
    if (in.bad())
        throw FileOpenError(fileName, "The file cannot be read.");

    if (!IsWideEncoding(data)) {
        // pugixml ends its text at a NUL byte; a binary file would otherwise load as an empty document.
        auto nul = std::find(data.begin(), data.end(), '\0');
        if (nul != data.end()) {
            document->reset();
            long line = 0;
            long column = 0;
            LineAndColumn(data, nul - data.begin(), line, column);
            throw Exception("The XML document \"" + fileName + "\" is not well-formed: it holds a NUL byte (line " +
                            std::to_string(line) + ", column " + std::to_string(column) + ").");
        }
    }
    // Parsed as a fragment so that stray text or a second element at the top level is seen and
    // refused instead of silently dropped.
    pugi::xml_parse_result result =
        document->load_buffer(data.data(), data.size(), pugi::parse_default | pugi::parse_fragment);
    std::string fault;
    ptrdiff_t offset = result.offset;
    if (!result) {
        fault = result.description();
    } else {
        int elements = 0;
        for (pugi::xml_node c = document->first_child(); c; c = c.next_sibling()) {
            if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
                fault = "text outside the root element";
                offset = c.offset_debug();
                while (offset >= 0 && static_cast<size_t>(offset) < data.size() &&
                       std::isspace(static_cast<unsigned char>(data[offset])))
                    ++offset;
                break;
            }
            if (IsElement(c) && ++elements == 2) {
                fault = "more than one root element";
                offset = c.offset_debug();
                if (offset > 0 && static_cast<size_t>(offset) <= data.size() && data[offset - 1] == '<')
                    --offset;   // the element's offset is that of its name
                break;
            }
        }
    }
    if (!fault.empty()) {
        document->reset();
        long line = 0;
        long column = 0;
        LineAndColumn(data, offset, line, column);
        throw Exception("The XML document \"" + fileName + "\" is not well-formed: " + fault + " (line " +
                        std::to_string(line) + ", column " + std::to_string(column) + ").");
    }
}

IXMLNode TXMLDocument::DocumentElement() const
{
    return IXMLNode(document->document_element().internal_object());
}
