// Writes a tree of small one-page PDFs for the index tests and benchmarks: make_tree FOLDER
// COUNT puts COUNT files into FOLDER/000/, FOLDER/001/, ..., a thousand to a folder. File i's
// information dictionary takes its title, author, subject, keywords, creator and producer from
// the tables below by i, so that any file's values follow from its number; the same arguments
// always write the same bytes.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "support/PdfBuilder.h"

using vellumtag::test::PdfBuilder;

namespace {

// PDF literal strings (ISO 32000-1, 7.3.4.2) in PDFDocEncoding, some with escaped accents.
constexpr std::array<std::string_view, 6> kTitles = {"Type Theory and Functional Programming",
                                                     "Concrete Mathematics",
                                                     "Notes on Structured Programming",
                                                     "The Art of Computer Programming",
                                                     "Proofs and Types",
                                                     "M\\351tadonn\\351es et documents"};
constexpr std::array<std::string_view, 5> kAuthors = {"Simon Thompson", "Donald Knuth",
                                                      "Edsger Dijkstra", "Jean-Yves Girard",
                                                      "Jos\\351 Mart\\355nez"};
constexpr std::array<std::string_view, 3> kSubjects = {"Lecture notes", "A textbook",
                                                       "Collected papers"};
constexpr std::array<std::string_view, 4> kCreators = {"LaTeX with hyperref", "Writer", "groff",
                                                       "make_tree"};
constexpr std::array<std::string_view, 4> kProducers = {"pdfTeX-1.40.24", "GPL Ghostscript 10.0",
                                                        "LibreOffice 7.4", "Vellumtag builder"};

PdfBuilder document(std::size_t i) {
    const std::string number = std::to_string(i);
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    pdf.object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    pdf.object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    pdf.object(4, "<< /Title (" + std::string(kTitles[i % kTitles.size()]) + " " + number +
                      ") /Author (" + std::string(kAuthors[i % kAuthors.size()]) + ") /Subject (" +
                      std::string(kSubjects[i % kSubjects.size()]) + ") /Keywords (tree, file " +
                      number + ") /Creator (" + std::string(kCreators[i % kCreators.size()]) +
                      ") /Producer (" + std::string(kProducers[i % kProducers.size()]) + ") >>");
    return std::move(pdf.xrefTable("/Root 1 0 R /Info 4 0 R"));
}

} // namespace

int main(int argc, char **argv) {
    char *end = nullptr;
    const unsigned long long count = argc == 3 ? std::strtoull(argv[2], &end, 10) : 0;
    if (argc != 3 || end == argv[2] || *end != '\0') {
        std::fprintf(stderr, "usage: make_tree FOLDER COUNT\n");
        return 2;
    }
    const std::filesystem::path top(argv[1]);
    for (std::size_t i = 0; i < count; ++i) {
        char folder[24];
        char name[32];
        std::snprintf(folder, sizeof folder, "%03zu", i / 1000);
        std::snprintf(name, sizeof name, "doc-%06zu.pdf", i);
        std::error_code error;
        std::filesystem::create_directories(top / folder, error);
        if (!document(i).write(top / folder / name)) {
            std::fprintf(stderr, "make_tree: cannot write %s\n",
                         (top / folder / name).string().c_str());
            return 1;
        }
    }
    return 0;
}
