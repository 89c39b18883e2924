#include "jobFactory.h"

#include "jobRecord.h"
#include "ops.h"
#include "pct.h"
#include "ppubs.h"
#include "ppubsProtocol.h"
#include "uspto.h"

#include <wx/filename.h>

int RouteJob(int classified, const wxString& number, const JobContext& context) {
    const bool key = !context.key.empty();
    if (context.usSource == UsSource::UsptoImages && classified == kUsptoJob)
        return kUsptoJob;
    // A kind code is the EPO's to choose when there is a key; without one the USPTO's
    // document of that number is the one to be had.
    PpubsQuery query;
    const bool us = ppubs::QueryFor(number, query, !key);
    if (us && !(key && context.usSource == UsSource::Epo))
        return kPpubsJob;
    return key ? kOpsJob : classified;
}

wxString PdfPathFor(const wxString& number, int kind, const wxString& folder) {
    const wxString name = kind == kPpubsJob ? ppubs::PdfName(number)
                          : kind == kOpsJob ? ops::PdfName(number)
                          : kind == kPctJob ? pct::PdfName(number)
                                            : uspto::PdfName(number);
    if (name.empty())
        return wxString();
    return ziv2ize::OutputPath(folder, name).GetFullPath();
}

std::unique_ptr<ziv2ize> MakeJob(int kind, int id, const wxString& number,
                                 const JobContext& context) {
    const JobInput input(number, context.connection, context.folder);
    if (kind == kPpubsJob)
        return std::make_unique<ppubs>(id, input, context.key);
    if (kind == kOpsJob)
        return std::make_unique<ops>(id, input, context.key);
    if (kind == kPctJob)
        return std::make_unique<pct>(id, input);
    return std::make_unique<uspto>(id, input);
}
