#include "jobFactory.h"

#include "jobRecord.h"
#include "ops.h"
#include "pct.h"
#include "uspto.h"

#include <wx/filename.h>

int RouteJob(int classified, const JobContext& context) {
    if (!context.key.empty())
        return kOpsJob;
    return classified;
}

wxString PdfPathFor(const wxString& number, int kind, const wxString& folder) {
    const wxString name = kind == kOpsJob   ? ops::PdfName(number)
                          : kind == kPctJob ? pct::PdfName(number)
                                            : uspto::PdfName(number);
    if (name.empty())
        return wxString();
    return ziv2ize::OutputPath(folder, name).GetFullPath();
}

std::unique_ptr<ziv2ize> MakeJob(int kind, int id, const wxString& number,
                                 const JobContext& context) {
    const JobInput input(number, context.connection, context.folder);
    if (kind == kOpsJob)
        return std::make_unique<ops>(id, input, context.key);
    if (kind == kPctJob)
        return std::make_unique<pct>(id, input);
    return std::make_unique<uspto>(id, input);
}
