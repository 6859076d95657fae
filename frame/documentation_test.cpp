// Documentation fragments: exact texts, and each one well-formed for a real XML parser.
#include "frame/documentation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "frame/captured_context.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;

class Documentation : public testing::Test {
  protected:
    Documentation() {
        char here[PATH_MAX];
        if (getcwd(here, sizeof here) != nullptr) previous_ = here;
        EXPECT_EQ(chdir(dir_.Path().c_str()), 0);
        log_.context.programName = "ZYMB10DownloadFile";
        log_.context.description = "this program will download a file";
    }
    ~Documentation() override {
        if (!previous_.empty()) (void)!chdir(previous_.c_str());
    }

    // xmllint must accept the file; a missing xmllint fails under CI=true.
    void ExpectWellFormed(const std::string& path) {
        std::string xmllint = testsupport::FindProgram("xmllint");
        if (xmllint.empty()) {
            if (testsupport::PeersRequired()) FAIL() << "xmllint (libxml2-utils) is missing";
            GTEST_SKIP() << "xmllint is not installed";
        }
        testsupport::ChildOptions options;
        options.arguments = {"--noout", path};
        auto result = testsupport::RunProgram(xmllint, options);
        EXPECT_EQ(result.exitStatus, 0) << path << ": " << result.err;
    }

    TempDir dir_;
    CapturedContext log_;
    std::string previous_;
};

TEST_F(Documentation, FragmentsOfAnOptionTable) {
    const char* value = "";
    OptionEntry rows[] = {
        {.letter = 'C', .description = "Customer-ID", .value = &value},
        {.letter = 'p', .description = "Strip Path"},
        {.letter = 'S', .description = "Server", .value = &value},
        {.letter = 'c', .description = "Config", .value = &value},
        {.letter = 'V', .description = "Volumes", .value = &value},
        {.letter = 'x', .description = "Q&A <notes>", .value = &value},
        {.letter = 0},
    };
    log_.context.options = rows;
    WriteDocumentation(&log_.context);

    EXPECT_EQ(ReadFile(dir_ / "ZYMB10DownloadFile_refnamediv.xml"),
              "<refnamediv xmlns=\"http://docbook.org/ns/docbook\" version=\"5.0\">\n"
              "   <refname xml:id=\"ZYMB10DownloadFile.title\">ZYMB10DownloadFile</refname>\n"
              "   <refpurpose>this program will download a file.</refpurpose>\n"
              "</refnamediv>\n");
    EXPECT_EQ(ReadFile(dir_ / "ZYMB10DownloadFile_refsynopsisdiv.xml"),
              "<refsynopsisdiv xmlns=\"http://docbook.org/ns/docbook\" version=\"5.0\">\n"
              "   <cmdsynopsis>\n"
              "      <command>ZYMB10DownloadFile</command>\n"
              "      <arg>-C <replaceable>option-C</replaceable></arg>\n"
              "      <arg>-p</arg>\n"
              "      <arg>-S <replaceable>logonstring</replaceable></arg>\n"
              "      <arg>-c <replaceable>configfile</replaceable></arg>\n"
              "      <arg>-V <replaceable>volumefilter</replaceable></arg>\n"
              "      <arg>-x <replaceable>option-x</replaceable></arg>\n"
              "</cmdsynopsis>\n"
              "</refsynopsisdiv>\n");
    EXPECT_EQ(ReadFile(dir_ / "ZYMB10DownloadFile_options.xml"),
              "<refsect1 xmlns=\"http://docbook.org/ns/docbook\" version=\"5.0\" "
              "xmlns:xi=\"http://www.w3.org/2001/XInclude\">\n"
              "   <title>Options</title>\n"
              "   <para>The options which apply to the ZYMB10DownloadFile command are:</para>\n"
              "   <variablelist>\n"
              "      <varlistentry>\n"
              "         <term><option>-C</option></term>\n"
              "         <listitem><para>Customer-ID.</para></listitem>\n"
              "      </varlistentry>\n"
              "      <varlistentry>\n"
              "         <term><option>-p</option></term>\n"
              "         <listitem><para>Strip Path.</para></listitem>\n"
              "      </varlistentry>\n"
              "      <xi:include href=\"../common/reference_option_server.xml\"/>\n"
              "      <xi:include href=\"../common/reference_option_config.xml\"/>\n"
              "      <xi:include href=\"../common/reference_option_volumefilter.xml\"/>\n"
              "      <varlistentry>\n"
              "         <term><option>-x</option></term>\n"
              "         <listitem><para>Q&amp;A &lt;notes&gt;.</para></listitem>\n"
              "      </varlistentry>\n"
              "</variablelist>\n"
              "</refsect1>\n");
    for (const char* name : {"refnamediv", "refsynopsisdiv", "options"})
        ExpectWellFormed(dir_ / ("ZYMB10DownloadFile_" + std::string(name) + ".xml"));
}

TEST_F(Documentation, FragmentsWithoutOptions) {
    log_.context.description = "Tools & <things>";
    WriteDocumentation(&log_.context);
    EXPECT_EQ(ReadFile(dir_ / "ZYMB10DownloadFile_refsynopsisdiv.xml"),
              "<refsynopsisdiv>\n   <para>This program expects no arguments</para>\n"
              "</refsynopsisdiv>\n");
    EXPECT_EQ(ReadFile(dir_ / "ZYMB10DownloadFile_options.xml"),
              "<refsect1>\n   <title>Options</title>\n"
              "   <para>This program has no options.</para>\n</refsect1>\n");
    for (const char* name : {"refnamediv", "refsynopsisdiv", "options"})
        ExpectWellFormed(dir_ / ("ZYMB10DownloadFile_" + std::string(name) + ".xml"));
}

TEST_F(Documentation, UnwritableDirectorySkipsTheFiles) {
    if (geteuid() == 0) {
        // Permissions do not stop root: use a name that cannot be created instead.
        log_.context.programName = "no/such/folder/Program";
    } else {
        chmod(dir_.Path().c_str(), 0500);
    }
    WriteDocumentation(&log_.context);
    chmod(dir_.Path().c_str(), 0700);
    EXPECT_EQ(ReadFile(dir_ / "ZYMB10DownloadFile_options.xml"), "");
    EXPECT_EQ(ReadFile(dir_ / "ZYMB10DownloadFile_options.xml.tmp"), "");
}

}  // namespace
