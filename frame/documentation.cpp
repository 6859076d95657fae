// Reference documentation fragments of a program's options: its name and purpose, its
// synopsis and its option list, each a DocBook 5.0 fragment for the product manuals.
#include "frame/documentation.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "base/value_format.h"
#include "platform/whole_file.h"

namespace {
constexpr char DOCBOOK_NAMESPACE[] = "xmlns=\"http://docbook.org/ns/docbook\" version=\"5.0\"";

// Descriptions are free text; the fragments must stay well-formed whatever they hold.
std::string Escaped(const char* text) {
    return MarkupEscaped(text != nullptr ? text : "");
}

// Writes the whole fragment or nothing: a half-written file would break the manual build.
void WriteFragment(const std::string& fileName, const std::string& content) {
    Platform_ReplaceFile(fileName.c_str(), content.data(), content.size());
}

const char* ReplaceableName(char letter) {
    switch (letter) {
        case 'S':
            return "logonstring";
        case 'V':
            return "volumefilter";
        case 'c':
            return "configfile";
        default:
            return nullptr;
    }
}

const char* CommonOptionFile(char letter) {
    switch (letter) {
        case 'S':
            return "../common/reference_option_server.xml";
        case 'V':
            return "../common/reference_option_volumefilter.xml";
        case 'c':
            return "../common/reference_option_config.xml";
        default:
            return nullptr;
    }
}

std::string NameFragment(const ProgramContext* context, const std::string& name) {
    return FormatString(
        "<refnamediv %s>\n"
        "   <refname xml:id=\"%s.title\">%s</refname>\n"
        "   <refpurpose>%s.</refpurpose>\n"
        "</refnamediv>\n",
        DOCBOOK_NAMESPACE, name.c_str(), name.c_str(), Escaped(context->description).c_str());
}

std::string SynopsisFragment(const ProgramContext* context, const std::string& name) {
    if (context->options == nullptr)
        return "<refsynopsisdiv>\n   <para>This program expects no arguments</para>\n"
               "</refsynopsisdiv>\n";
    std::string text =
        FormatString("<refsynopsisdiv %s>\n   <cmdsynopsis>\n      <command>%s</command>\n",
                     DOCBOOK_NAMESPACE, name.c_str());
    for (const OptionEntry* row = context->options; row->letter != 0; ++row) {
        if (row->value == nullptr) {
            text += FormatString("      <arg>-%c</arg>\n", row->letter);
            continue;
        }
        const char* replaceable = ReplaceableName(row->letter);
        std::string generic = FormatString("option-%c", row->letter);
        text += FormatString("      <arg>-%c <replaceable>%s</replaceable></arg>\n", row->letter,
                             replaceable != nullptr ? replaceable : generic.c_str());
    }
    return text + "</cmdsynopsis>\n</refsynopsisdiv>\n";
}

std::string OptionsFragment(const ProgramContext* context, const std::string& name) {
    if (context->options == nullptr)
        return "<refsect1>\n   <title>Options</title>\n"
               "   <para>This program has no options.</para>\n</refsect1>\n";
    std::string text = FormatString(
        "<refsect1 %s xmlns:xi=\"http://www.w3.org/2001/XInclude\">\n"
        "   <title>Options</title>\n"
        "   <para>The options which apply to the %s command are:</para>\n"
        "   <variablelist>\n",
        DOCBOOK_NAMESPACE, name.c_str());
    for (const OptionEntry* row = context->options; row->letter != 0; ++row) {
        const char* common = CommonOptionFile(row->letter);
        if (common != nullptr) {
            text += FormatString("      <xi:include href=\"%s\"/>\n", common);
            continue;
        }
        text += FormatString(
            "      <varlistentry>\n         <term><option>-%c</option></term>\n"
            "         <listitem><para>%s.</para></listitem>\n      </varlistentry>\n",
            row->letter, Escaped(row->description).c_str());
    }
    return text + "</variablelist>\n</refsect1>\n";
}
}  // namespace

void WriteDocumentation(ProgramContext* context) {
    if (context->programName == nullptr || context->programName[0] == 0) return;
    std::string name = Escaped(context->programName);
    const std::string base = context->programName;
    WriteFragment(base + "_refnamediv.xml", NameFragment(context, name));
    WriteFragment(base + "_refsynopsisdiv.xml", SynopsisFragment(context, name));
    WriteFragment(base + "_options.xml", OptionsFragment(context, name));
}
