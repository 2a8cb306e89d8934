#pragma once
// Checks of a written COLLADA document that other programs rely on: every id used once, every
// reference naming an element that is there, and the COLLADA 1.4.1 schema as Debian's
// opencollada-tools installs it (checked by xmllint, offline).
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace collada_checks {

inline const char* const kSchema = "/usr/lib/opencollada/collada_schema_1_4_1.xsd";
// The schema imports xml.xsd from the web; this local copy stands in for it.
inline const char* const kXmlSchema = "/usr/share/xml/docbook/schema/xsd/5.0/xml.xsd";

// Ids used more than once, "#" references (url, source, target) without their id, surface
// init_from without its image, and texture attributes without their sampler parameter; one text
// per problem, none for a sound document. A document that does not parse is one problem.
inline std::vector<std::string> ReferenceProblems(const std::string& text)
{
    std::vector<std::string> problems;
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_string(text.c_str());
    if (!parsed)
        return {std::string("does not parse: ") + parsed.description()};
    std::map<std::string, int> ids;
    std::set<std::string> images;
    struct Walker : pugi::xml_tree_walker {
        std::map<std::string, int>* ids;
        std::set<std::string>* images;
        bool for_each(pugi::xml_node& n) override
        {
            if (pugi::xml_attribute id = n.attribute("id")) {
                ++(*ids)[id.value()];
                if (std::string(n.name()) == "image")
                    images->insert(id.value());
            }
            return true;
        }
    } collect;
    collect.ids = &ids;
    collect.images = &images;
    doc.traverse(collect);
    for (const auto& [id, count] : ids)
        if (count > 1)
            problems.push_back("id \"" + id + "\" is used " + std::to_string(count) + " times");

    struct Checker : pugi::xml_tree_walker {
        const std::map<std::string, int>* ids;
        const std::set<std::string>* images;
        std::vector<std::string>* problems;
        bool for_each(pugi::xml_node& n) override
        {
            const std::string tag = n.name();
            for (const char* name : {"url", "source", "target"}) {
                std::string value = n.attribute(name).value();
                if (!value.empty() && value[0] == '#' && !ids->count(value.substr(1)))
                    problems->push_back(tag + " " + name + "=\"" + value + "\" names no id");
            }
            if (tag == "init_from" && std::string(n.parent().name()) == "surface" && !images->count(n.text().get()))
                problems->push_back(std::string("surface init_from \"") + n.text().get() + "\" names no image");
            if (tag == "texture") {
                pugi::xml_node effect = n;
                while (effect && std::string(effect.name()) != "profile_COMMON")
                    effect = effect.parent();
                const std::string sampler = n.attribute("texture").value();
                if (!effect.find_child_by_attribute("newparam", "sid", sampler.c_str()))
                    problems->push_back("texture \"" + sampler + "\" names no sampler of its effect");
            }
            return true;
        }
    } check;
    check.ids = &ids;
    check.images = &images;
    check.problems = &problems;
    doc.traverse(check);
    return problems;
}

// xmllint's messages for `file` against the COLLADA 1.4.1 schema; empty when the document is valid.
// `scratch` is a folder for the catalog that maps the schema's xml.xsd import to the local copy.
inline std::string SchemaErrors(const std::filesystem::path& file, const std::filesystem::path& scratch)
{
    for (const char* needed : {kSchema, kXmlSchema})
        if (!std::filesystem::exists(needed))
            return std::string("missing ") + needed + " (run scripts/setup: opencollada-tools, docbook5-xml)";
    const std::filesystem::path catalog = scratch / "schema-catalog.xml";
    std::ofstream(catalog) << "<?xml version=\"1.0\"?>\n"
                              "<catalog xmlns=\"urn:oasis:names:tc:entity:xmlns:xml:catalog\">\n"
                              "  <system systemId=\"http://www.w3.org/2001/03/xml.xsd\" uri=\"file://"
                           << kXmlSchema << "\"/>\n</catalog>\n";
    const std::string command = "XML_CATALOG_FILES='" + catalog.string() + "' xmllint --nonet --noout --schema " +
                                kSchema + " '" + file.string() + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "xmllint could not be started";
    std::string output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    int status = ::pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return std::string();
    return output.empty() ? "xmllint failed without a message" : output;
}

} // namespace collada_checks
