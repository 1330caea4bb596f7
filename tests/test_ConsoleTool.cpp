#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "TestSupport.h"
#include "syntax/TextEncoding.h"

using vellumtag::test::PdfBuilder;
using vellumtag::test::TempDir;

namespace {

const std::string kUsage = "--------------------------------------\n"
                           "Vellumtag command line tool\n"
                           "Version: 1.11.0\n"
                           "--------------------------------------\n"
                           "\n"
                           "Usage: Vellumtag.exe [options] <filenames> [<filename> ...]\n"
                           "\n"
                           "<filename> can be a single filename, multiple filenames (enclose "
                           "them in \"\") or patterns like *.pdf\n"
                           "\n"
                           "Options\n"
                           "-------\n"
                           "--help            Show this help text\n"
                           "--pause-at-end    Wait for key press at the end of parsing\n"
                           "--strict          Read files only as the PDF standard lays them "
                           "out: no header\n"
                           "                  after a preamble, no startxref far from the end, "
                           "no rebuilding\n"
                           "                  of damaged cross-reference data\n"
                           "\n";

const std::string kSeparator = "------------------------------------------------------\n";

std::string header(const std::string &name) {
    return kSeparator + "Filename: " + name + "\n" + kSeparator;
}

std::string quote(const std::string &argument) {
    std::string quoted = "'";
    for (char c : argument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct ToolRun {
    std::string output;
    int status = -1;
    std::string errors; // standard error
};

// Runs the built tool in dir with the arguments, standard input from stdinText.
ToolRun runTool(const std::filesystem::path &dir, const std::vector<std::string> &arguments,
                const std::string &stdinText = "") {
    // Outside dir, where patterns would find it.
    const TempDir scratch;
    const std::filesystem::path errors = scratch.path() / "stderr.txt";
    // Built by appending: GCC 12 at -O3 reports a false -Wrestrict for "x" + std::string&&.
    std::string command("cd ");
    command.append(quote(dir.string()));
    command.append(" && printf %s ");
    command.append(quote(stdinText));
    command.append(" | ");
    command.append(quote(VELLUMTAG_EXE));
    for (const auto &argument : arguments) {
        command.push_back(' ');
        command.append(quote(argument));
    }
    command.append(" 2>");
    command.append(quote(errors.string()));
    ToolRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errors, std::ios::binary);
    run.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

TEST(ConsoleTool, NoArgumentsPrintsTheErrorAndUsage) {
    TempDir dir;
    const ToolRun run = runTool(dir.path(), {});
    EXPECT_EQ(run.status, 100);
    EXPECT_EQ(run.output, "ERROR: Please give a PDF filename to analyze.\n" + kUsage);
}

TEST(ConsoleTool, HelpInAnyCaseWinsOverFiles) {
    TempDir dir;
    dir.write("a.pdf", "%PDF-1.4\n");
    for (const char *option : {"--help", "--HELP", "--Help"}) {
        const ToolRun run = runTool(dir.path(), {"a.pdf", option, "b.pdf"});
        EXPECT_EQ(run.status, 0) << option;
        EXPECT_EQ(run.output, kUsage) << option;
    }
    // Options are whole arguments only.
    const ToolRun run = runTool(dir.path(), {"--helpme"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "");
}

TEST(ConsoleTool, PauseAtEndReturnsWhenInputIsClosedOrAKeyArrives) {
    TempDir dir;
    for (const char *input : {"", "x\n"}) {
        const ToolRun run = runTool(dir.path(), {"--PAUSE-AT-END"}, input);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, "\nPress any key to continue...\n");
    }
}

TEST(ConsoleTool, ErrorBlocksAndExitStatusZero) {
    TempDir dir;
    dir.write("notapdf.txt", "hello\n");
    dir.write("-skipped.pdf", "%PDF-1.4\n");
    const ToolRun run =
        runTool(dir.path(), {"missing.pdf", "-skipped.pdf", "--unknown", "notapdf.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, header("missing.pdf") +
                              "Error: 100: File does not exists or can't be read\n" +
                              header("notapdf.txt") + "Error: 101: Not a PDF file\n");
}

// Files that viewers read: tolerated, with a warning where the cross-reference data had to be
// rebuilt; with --strict they get the codes of a reading by the letter of the standard.
TEST(ConsoleTool, DamagedFilesWarnAndStrictGivesTheStandardsCodes) {
    TempDir dir;
    const std::string intact = PdfBuilder()
                                   .object(1, "<< /Type /Catalog >>")
                                   .object(2, "<< /Title (Kept) >>")
                                   .build("/Root 1 0 R /Info 2 0 R");
    std::string zeroed = intact;
    const std::size_t startxref = zeroed.rfind("startxref\n") + 10;
    zeroed.replace(startxref, zeroed.find('\n', startxref) - startxref, "0");
    struct Case {
        const char *name;
        std::string bytes;
        const char *strict;
        bool warning;
    };
    const Case cases[] = {
        {"preamble.pdf", "Content-Type: application/pdf\r\n\r\n" + intact,
         "Error: 101: Not a PDF file\n", false},
        {"trailing.pdf", intact + std::string(60, '\0'), "Error: 102: Can't find Xref table\n",
         false},
        {"zeroed.pdf", zeroed, "Error: 199: Unspecified error\n", true},
    };
    for (const auto &c : cases) {
        dir.write(c.name, c.bytes);
        const ToolRun tolerant = runTool(dir.path(), {c.name});
        EXPECT_EQ(tolerant.output, header(c.name) + "Title => Kept\n") << c.name;
        EXPECT_EQ(tolerant.errors,
                  c.warning ? "Warning: damaged file, cross-reference data rebuilt\n" : "")
            << c.name;
        const ToolRun strict = runTool(dir.path(), {"--STRICT", c.name});
        EXPECT_EQ(strict.output, header(c.name) + c.strict) << c.name;
        EXPECT_EQ(strict.errors, "") << c.name;
    }
}

TEST(ConsoleTool, PatternsExpandToEveryMatchInOrder) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "sub dir");
    for (const char *name : {"sub dir/b.pdf", "sub dir/a.pdf", "sub dir/c.pdf", "sub dir/d.txt"})
        dir.write(name, "not a pdf");

    const ToolRun three = runTool(dir.path(), {"sub dir/*.pdf"});
    EXPECT_EQ(three.status, 0);
    const std::string notPdf = "Error: 101: Not a PDF file\n";
    EXPECT_EQ(three.output, header("sub dir/a.pdf") + notPdf + header("sub dir/b.pdf") + notPdf +
                                header("sub dir/c.pdf") + notPdf);

    const ToolRun question = runTool(dir.path(), {"sub dir/?.txt"});
    EXPECT_EQ(question.output, header("sub dir/d.txt") + notPdf);

    const ToolRun none = runTool(dir.path(), {"*.nothing"});
    EXPECT_EQ(none.output,
              header("*.nothing") + "Error: 100: File does not exists or can't be read\n");

    // "." and ".." never come out of a pattern.
    const ToolRun dots = runTool(dir.path() / "sub dir", {".*"});
    EXPECT_EQ(dots.output, header(".*") + "Error: 100: File does not exists or can't be read\n");
}

TEST(ConsoleTool, SampleFilesPrintEveryEntryInKeyOrder) {
    const std::filesystem::path samples = std::filesystem::path(VELLUMTAG_SOURCE_DIR) / "samples";
    const ToolRun run = runTool(samples, {"hello.pdf", "unicode-title.pdf"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, header("hello.pdf") +
                              "Author => Vellumtag Team\n"
                              "CreationDate => D:20261208120000+01'00'\n"
                              "Creator => make-samples\n"
                              "Keywords => pdf, metadata, sample\n"
                              "ModDate => D:20261208130500Z\n"
                              "PageCount => 1\n"
                              "Producer => Vellumtag sample writer\n"
                              "Subject => A one-page sample\n"
                              "Title => Hello, Vellumtag\n" +
                              header("unicode-title.pdf") +
                              "Author => José Martínez\n"
                              "PageCount => 2\n"
                              "Producer => make-samples\n"
                              "Subject => Ελληνικά και русский\n"
                              "Title => Ünïcødé — 日本語のタイトル 📚\n");
}

TEST(ConsoleTool, UnprintableValuesShowTheirPrefixAndLength) {
    TempDir dir;
    dir.write("odd.pdf", PdfBuilder()
                             .object(1, "<< /Type /Catalog >>")
                             .object(2, "<< /Title <FEFF0041D800> /Subject <FEFFDC0000420043> "
                                        "/Author (fine) >>")
                             .build("/Root 1 0 R /Info 2 0 R"));
    const ToolRun run = runTool(dir.path(), {"odd.pdf"});
    EXPECT_EQ(run.output, header("odd.pdf") +
                              "Author => fine\n"
                              "Subject => *** Unsupported console Unicode data, len: 3 ***\n"
                              "Title => A*** Unsupported console Unicode data, len: 2 ***\n");
}

TEST(TextEncoding, Utf8StopsAtAnUnpairedSurrogate) {
    struct Case {
        std::u16string text;
        bool complete;
        std::string utf8;
    };
    const Case cases[] = {
        {u"Title", true, "Title"},
        {u"caf\u00e9", true, "caf\xC3\xA9"},
        {u"\u65e5\u672c", true, "\xE6\x97\xA5\xE6\x9C\xAC"},
        {u"\U0001F4DA", true, "\xF0\x9F\x93\x9A"},
        {std::u16string(u"ab") + char16_t(0xD800) + u"cd", false, "ab"},
        {std::u16string(u"ab") + char16_t(0xDC00), false, "ab"},
        {std::u16string(u"x") + char16_t(0xD83D), false, "x"},
    };
    for (const auto &c : cases) {
        std::string out;
        EXPECT_EQ(vellumtag::appendUtf8(c.text, out), c.complete);
        EXPECT_EQ(out, c.utf8);
    }
}

} // namespace
