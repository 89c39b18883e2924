// Reading back a PDF the writer made: its cross-reference table, its objects and the
// streams, checked byte for byte, and the verdict of independent readers (qpdf, poppler).
#pragma once

#include "fixtures.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace pdfcheck {

struct Page {
    std::string mediaBox;  // "0.0000 0.0000 612 792"
    std::string rotate;    // "90" when the page has /Rotate, else empty
    std::string content;   // the content stream's bytes
    std::string imageDict; // the image object's dictionary text
    std::string imageData; // the image stream's bytes
    std::string imageName; // "Im1"
};

struct Pdf {
    std::string data;
    std::map<int, size_t> offsets; // object number -> offset, from the xref table
    std::string title;             // the /Title entry as written, e.g. "(US\\(1\\))"
    std::vector<Page> pages;
};

// Parses the file and checks its whole structure: header, 20-byte xref entries pointing
// at their objects, objects 4k..4k+3 per page, the page tree, stream lengths, the
// trailer and "%%EOF" last. `pages` is the expected page count.
::testing::AssertionResult ReadPdf(const std::string& path, int pages, Pdf& out);

// qpdf --check passes with no warning.
::testing::AssertionResult QpdfClean(const std::string& path);

// Renders page `page` with pdftoppm at one device pixel per image pixel and compares it
// with libtiff's decoding of `tiff`, pixel for pixel; with `alsoGhostscript` the same for
// ghostscript's rendering.
::testing::AssertionResult RendersLike(const std::string& pdfPath, int page,
                                       const std::string& tiff, bool alsoGhostscript = false);

} // namespace pdfcheck
