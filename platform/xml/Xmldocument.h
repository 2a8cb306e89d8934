#pragma once
// The XML document component the COLLADA reader reads through, over pugixml. It offers only what
// the reader needs: load a file, the root element, and a few read-only questions about elements.
// The reader sees elements only: comments, processing instructions and text are not children or
// siblings (text is reached through IXMLNode::Text).
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pugi {
class xml_document;
struct xml_node_struct;
}

// A handle to one element of a TXMLDocument, or the null node ("none"). Cheap to copy. Every
// operation is safe on the null node (it answers "none", 0 or the empty text). A handle is valid
// until its document is loaded again or destroyed.
class IXMLNode {
public:
    IXMLNode() = default;

    bool IsNull() const { return node == nullptr; }
    explicit operator bool() const { return node != nullptr; }

    // Number of direct child elements.
    int ChildCount() const;
    // First direct child element with exactly this name; null when there is none.
    IXMLNode FindChild(std::string_view name) const;
    // The next sibling element whatever its name; null after the last.
    IXMLNode NextSibling() const;
    // The element's name as written, prefix included.
    std::string NodeName() const;
    // Value of the named attribute; the empty text when the element has no such attribute.
    std::string Attribute(std::string_view name) const;
    // The named attribute read as a whole decimal integer, without the locale; nullopt when the
    // attribute is absent or its value is not an integer in range.
    std::optional<long long> AttributeInt(std::string_view name) const;
    // The element's own text content (its text and CDATA children joined), unchanged.
    std::string Text() const;

    friend bool operator==(const IXMLNode&, const IXMLNode&) = default;

private:
    friend class TXMLDocument;
    explicit IXMLNode(pugi::xml_node_struct* n) : node(n) {}
    pugi::xml_node_struct* node = nullptr;
};

// One XML document. Loading replaces what it held before, also when the load fails.
class TXMLDocument {
public:
    TXMLDocument();
    ~TXMLDocument();
    TXMLDocument(const TXMLDocument&) = delete;
    TXMLDocument& operator=(const TXMLDocument&) = delete;

    // Loads the file and makes the document active. A file that cannot be read or is not well-formed
    // XML throws Exception (platform/base/Exception.h) whose message names the file and the fault;
    // the document is then empty. A well-formed file without any element loads as an empty document.
    void LoadFromFile(const std::string& fileName);

    // The root element; null for an empty document.
    IXMLNode DocumentElement() const;

private:
    std::unique_ptr<pugi::xml_document> document;
};
