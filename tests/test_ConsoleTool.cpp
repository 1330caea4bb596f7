#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
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
                           "--jobs N          Read N files at once (default: one per "
                           "processor core); the\n"
                           "                  output is the same, in the same order\n"
                           "-r, --recursive   Read the .pdf files in the directories given "
                           "and below them\n"
                           "--follow          With -r, also enter directories that are "
                           "symbolic links\n"
                           "--json            One JSON object per line and file: file, "
                           "result, and values\n"
                           "                  or error\n"
                           "--csv             CSV with a header row: file, result and the "
                           "twelve\n"
                           "                  properties\n"
                           "--details         Also the document's facts: PDF:Version, "
                           "PDF:Encryption,\n"
                           "                  PDF:PageSize and more, and the dates in ISO 8601\n"
                           "--xmp             Also every property of the XMP packet, as "
                           "XMP-dc:Rights\n"
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

// Runs the built tool in dir with the arguments, standard input from stdinText; joined puts
// standard error into the output, as a terminal shows both.
ToolRun runTool(const std::filesystem::path &dir, const std::vector<std::string> &arguments,
                const std::string &stdinText = "", bool joined = false) {
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
    command.append(joined ? " 2>&1" : " 2>");
    if (!joined)
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
    const std::string headerless = PdfBuilder::withoutHeader()
                                       .raw("%PDF1.4\n")
                                       .object(1, "<< /Type /Catalog >>")
                                       .object(2, "<< /Title (Kept) >>")
                                       .build("/Root 1 0 R /Info 2 0 R");
    const std::string rebuilt = "Warning: damaged file, cross-reference data rebuilt\n";
    struct Case {
        const char *name;
        std::string bytes;
        const char *strict;
        std::string warning;
    };
    const Case cases[] = {
        {"preamble.pdf", "Content-Type: application/pdf\r\n\r\n" + intact,
         "Error: 101: Not a PDF file\n", ""},
        {"trailing.pdf", intact + std::string(60, '\0'), "Error: 102: Can't find Xref table\n", ""},
        {"zeroed.pdf", zeroed, "Error: 199: Unspecified error\n", rebuilt},
        {"headerless.pdf", headerless, "Error: 101: Not a PDF file\n",
         "Warning: damaged file, no PDF header\n"},
    };
    for (const auto &c : cases) {
        dir.write(c.name, c.bytes);
        const ToolRun tolerant = runTool(dir.path(), {c.name});
        EXPECT_EQ(tolerant.output, header(c.name) + "Title => Kept\n") << c.name;
        EXPECT_EQ(tolerant.errors, c.warning) << c.name;
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

// A PDF whose Info dictionary is the given entries.
std::string withInfo(const std::string &entries) {
    return PdfBuilder()
        .object(1, "<< /Type /Catalog >>")
        .object(2, "<< " + entries + " >>")
        .build("/Root 1 0 R /Info 2 0 R");
}

// -r walks each directory in name order, depth first, taking .pdf in any case and regular
// files only; symbolic links to files are read, links to directories only with --follow, and a
// link loop ends.
TEST(ConsoleTool, RecursiveWalkInNameOrder) {
    TempDir dir;
    for (const char *sub : {"tree", "tree/b", "tree/b/deep", "elsewhere"})
        std::filesystem::create_directory(dir.path() / sub);
    for (const char *name : {"tree/c.PDF", "tree/a.pdf", "tree/b/z.Pdf", "tree/b/deep/y.pdf",
                             "tree/notes.txt", "tree/pdf", "elsewhere/e.pdf"})
        dir.write(name, withInfo("/Title (t)"));
    std::filesystem::create_symlink("../elsewhere", dir.path() / "tree/linked");
    std::filesystem::create_symlink("../elsewhere/e.pdf", dir.path() / "tree/d.pdf");
    std::filesystem::create_symlink("..", dir.path() / "tree/b/up");
    std::filesystem::create_symlink("gone.pdf", dir.path() / "tree/dangling.pdf");
    ASSERT_EQ(mkfifo((dir.path() / "tree/fifo.pdf").c_str(), 0600), 0);

    auto names = [](const std::string &output) {
        std::vector<std::string> out;
        for (std::size_t at = 0; (at = output.find("Filename: ", at)) != std::string::npos;)
            out.push_back(output.substr(at + 10, output.find('\n', at) - at - 10)), ++at;
        return out;
    };
    const std::vector<std::string> plain = {"tree/a.pdf", "tree/b/deep/y.pdf", "tree/b/z.Pdf",
                                            "tree/c.PDF", "tree/d.pdf",        "tree/dangling.pdf"};
    std::vector<std::string> followed = plain;
    followed.insert(followed.end(), {"tree/linked/e.pdf"});
    // Through the loop "up": tree/b/up is tree, already on the way down, so not entered again.
    for (const char *jobs : {"1", "3"}) {
        EXPECT_EQ(names(runTool(dir.path(), {"--jobs", jobs, "-r", "tree"}).output), plain);
        EXPECT_EQ(
            names(runTool(dir.path(), {"--recursive", "--follow", "--jobs", jobs, "tree"}).output),
            followed);
    }
    // Without -r a directory is a file that can't be read; a file given stays a file.
    EXPECT_EQ(runTool(dir.path(), {"tree", "tree/pdf"}).output,
              header("tree") + "Error: 100: File does not exists or can't be read\n" +
                  header("tree/pdf") + "Title => t\n");
}

TEST(ConsoleTool, UnreadableDirectoryIsAWarningAndTheWalkGoesOn) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every directory";
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "tree/closed");
    dir.write("tree/closed/x.pdf", withInfo("/Title (x)"));
    dir.write("tree/open.pdf", withInfo("/Title (o)"));
    std::filesystem::permissions(dir.path() / "tree/closed", std::filesystem::perms::none);
    const ToolRun run = runTool(dir.path(), {"-r", "tree"});
    std::filesystem::permissions(dir.path() / "tree/closed", std::filesystem::perms::owner_all);
    EXPECT_EQ(run.output, header("tree/open.pdf") + "Title => o\n");
    EXPECT_EQ(run.errors.find("Warning: cannot read directory tree/closed: "), 0u) << run.errors;
}

TEST(ConsoleTool, OptionValuesThatCantBeUsed) {
    TempDir dir;
    for (const std::vector<std::string> &arguments :
         std::vector<std::vector<std::string>>{{"a.pdf", "--jobs"},
                                               {"--jobs", "0", "a.pdf"},
                                               {"--jobs", "two", "a.pdf"},
                                               {"--jobs=-1", "a.pdf"},
                                               {"--JOBS", "4x", "a.pdf"},
                                               {"--jobs", "100000", "a.pdf"}}) {
        const ToolRun run = runTool(dir.path(), arguments);
        EXPECT_EQ(run.status, 100) << arguments[1];
        EXPECT_EQ(run.output, "") << arguments[1];
        EXPECT_EQ(run.errors,
                  "ERROR: --jobs needs a count of files to read at once, from 1 to 1024\n");
    }
    dir.write("a.pdf", withInfo("/Title (a)"));
    for (const char *jobs : {"--jobs=2", "--Jobs=1"})
        EXPECT_EQ(runTool(dir.path(), {jobs, "a.pdf"}).output, header("a.pdf") + "Title => a\n");
}

// JSON lines and CSV rows: values as text that is valid UTF-8 (an unpaired surrogate is
// U+FFFD there, unlike in the blocks), failures with their code, and CSV's quoting.
TEST(ConsoleTool, JsonAndCsvRecords) {
    TempDir dir;
    dir.write("a.pdf", withInfo("/Title <FEFF0041D800> /Author (Smith, \"J\") /Keywords (x\\ny) "
                                "/Custom (c)"));
    dir.write("b.pdf", "not a pdf");
    dir.write("we,ird\".pdf", withInfo("/Title (w)"));
    const std::vector<std::string> files = {"a.pdf", "b.pdf", "missing.pdf", "we,ird\".pdf"};
    std::vector<std::string> arguments = files;
    arguments.insert(arguments.begin(), "--json");
    EXPECT_EQ(runTool(dir.path(), arguments).output,
              "{\"file\":\"a.pdf\",\"result\":0,\"values\":{\"Author\":\"Smith, \\\"J\\\"\","
              "\"Custom\":\"c\",\"Keywords\":\"x\\ny\",\"Title\":\"A\xEF\xBF\xBD\"}}\n"
              "{\"file\":\"b.pdf\",\"result\":101,\"error\":\"Not a PDF file\"}\n"
              "{\"file\":\"missing.pdf\",\"result\":100,"
              "\"error\":\"File does not exists or can't be read\"}\n"
              "{\"file\":\"we,ird\\\".pdf\",\"result\":0,\"values\":{\"Title\":\"w\"}}\n");
    arguments[0] = "--CSV";
    EXPECT_EQ(runTool(dir.path(), arguments).output,
              "file,result,Title,Author,Category,Comments,Company,Subject,Keywords,Producer,"
              "Creator,PageCount,CreationDate,ModDate\r\n"
              "a.pdf,0,A\xEF\xBF\xBD,\"Smith, \"\"J\"\"\",,,,,\"x\ny\",,,,,\r\n"
              "b.pdf,101,,,,,,,,,,,,\r\n"
              "missing.pdf,100,,,,,,,,,,,,\r\n"
              "\"we,ird\"\".pdf\",0,w,,,,,,,,,,,\r\n");
}

// Many files on several threads: the same bytes as one thread, warnings in their place
// among the blocks (standard error and output joined, as on a terminal).
TEST(ConsoleTool, JobsKeepTheOrderAndTheWarningsPlace) {
    TempDir dir;
    std::string zeroed = withInfo("/Title (Damaged)");
    const std::size_t startxref = zeroed.rfind("startxref\n") + 10;
    zeroed.replace(startxref, zeroed.find('\n', startxref) - startxref, "0");
    std::vector<std::string> files;
    for (int i = 0; i < 60; ++i) {
        std::string name("f");
        name.append(std::to_string(i)).append(".pdf");
        dir.write(name, i % 7 == 3   ? zeroed
                        : i % 5 == 0 ? std::string("garbage")
                                     : withInfo("/Title (" + std::to_string(i) + ")"));
        files.push_back(name);
    }
    auto run = [&](const char *jobs, bool joined) {
        std::vector<std::string> arguments = files;
        arguments.insert(arguments.begin(), {"--jobs", jobs});
        return runTool(dir.path(), arguments, "", joined);
    };
    const ToolRun serial = run("1", false);
    const ToolRun serialJoined = run("1", true);
    const std::string warning = "Warning: damaged file, cross-reference data rebuilt\n";
    EXPECT_NE(serialJoined.output.find(header("f3.pdf") + warning + "Title => Damaged\n"),
              std::string::npos);
    for (const char *jobs : {"2", "4", "16"}) {
        const ToolRun parallel = run(jobs, false);
        EXPECT_EQ(parallel.output, serial.output) << jobs;
        EXPECT_EQ(parallel.errors, serial.errors) << jobs;
        EXPECT_EQ(run(jobs, true).output, serialJoined.output) << jobs;
    }
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
