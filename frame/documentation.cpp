// Reference documentation fragments of a program's options: its name and purpose, its
// synopsis and its option list, each a DocBook 5.0 fragment for the product manuals.
#include "frame/documentation.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
constexpr char DOCBOOK_NAMESPACE[] = "xmlns=\"http://docbook.org/ns/docbook\" version=\"5.0\"";

// Descriptions are free text; the fragments must stay well-formed whatever they hold.
std::string Escaped(const char* text) {
    std::string result;
    for (; text != nullptr && *text != 0; ++text) {
        switch (*text) {
            case '&':
                result += "&amp;";
                break;
            case '<':
                result += "&lt;";
                break;
            case '>':
                result += "&gt;";
                break;
            case '"':
                result += "&quot;";
                break;
            default:
                result += *text;
        }
    }
    return result;
}

std::string Formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Formatted(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    int length = vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

// Writes the whole fragment or nothing: a half-written file would break the manual build.
void WriteFragment(const std::string& fileName, const std::string& content) {
    std::string temporary = fileName + ".tmp";
    FILE* file = fopen(temporary.c_str(), "we");
    if (file == nullptr) return;
    bool written = fwrite(content.data(), 1, content.size(), file) == content.size();
    if (fclose(file) != 0) written = false;
    if (!written || rename(temporary.c_str(), fileName.c_str()) != 0) unlink(temporary.c_str());
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
    return Formatted(
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
        Formatted("<refsynopsisdiv %s>\n   <cmdsynopsis>\n      <command>%s</command>\n",
                  DOCBOOK_NAMESPACE, name.c_str());
    for (const OptionEntry* row = context->options; row->letter != 0; ++row) {
        if (row->value == nullptr) {
            text += Formatted("      <arg>-%c</arg>\n", row->letter);
            continue;
        }
        const char* replaceable = ReplaceableName(row->letter);
        std::string generic = Formatted("option-%c", row->letter);
        text += Formatted("      <arg>-%c <replaceable>%s</replaceable></arg>\n", row->letter,
                          replaceable != nullptr ? replaceable : generic.c_str());
    }
    return text + "</cmdsynopsis>\n</refsynopsisdiv>\n";
}

std::string OptionsFragment(const ProgramContext* context, const std::string& name) {
    if (context->options == nullptr)
        return "<refsect1>\n   <title>Options</title>\n"
               "   <para>This program has no options.</para>\n</refsect1>\n";
    std::string text = Formatted(
        "<refsect1 %s xmlns:xi=\"http://www.w3.org/2001/XInclude\">\n"
        "   <title>Options</title>\n"
        "   <para>The options which apply to the %s command are:</para>\n"
        "   <variablelist>\n",
        DOCBOOK_NAMESPACE, name.c_str());
    for (const OptionEntry* row = context->options; row->letter != 0; ++row) {
        const char* common = CommonOptionFile(row->letter);
        if (common != nullptr) {
            text += Formatted("      <xi:include href=\"%s\"/>\n", common);
            continue;
        }
        text += Formatted(
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
