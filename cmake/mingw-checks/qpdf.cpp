// libqpdf from the cache: a one-page PDF written to memory and read back, its page content
// compressed through zlib on the way.
// The pointer API of qpdf 11, as the program uses it; without this qpdf warns.
#define POINTERHOLDER_TRANSITION 4
#include <cstdio>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>
#include <string>

int main() {
    QPDF pdf;
    pdf.emptyPDF();
    auto content = QPDFObjectHandle::newStream(&pdf, "q 0 0 100 100 re f Q\n");
    auto page = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] /Resources << >> >>"));
    page.replaceKey("/Contents", content);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);

    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setCompressStreams(true);
    writer.write();
    auto buffer = writer.getBufferSharedPointer();
    std::string bytes(reinterpret_cast<char const*>(buffer->getBuffer()), buffer->getSize());

    QPDF back;
    back.processMemoryFile("check.pdf", bytes.data(), bytes.size());
    auto pages = QPDFPageDocumentHelper(back).getAllPages();
    if (pages.size() != 1)
        return 1;
    auto data = pages[0].getObjectHandle().getKey("/Contents").getStreamData();
    std::string text(reinterpret_cast<char const*>(data->getBuffer()), data->getSize());
    if (text.find("re f") == std::string::npos)
        return 2;
    std::printf("qpdf %s: %zu-byte PDF with %zu page read back\n", QPDF::QPDFVersion().c_str(),
                bytes.size(), pages.size());
    return 0;
}
