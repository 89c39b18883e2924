// Every remote host the program talks to, fixed in the program in this one place: the jobs,
// the EPO client, the update thread and Setup all read them here.
#pragma once

namespace remotehosts {

// The image and search services (plain HTTP, port 80).
constexpr const char* kPatentPrimary = "patimg1.uspto.gov";
constexpr const char* kPatentSecondary = "patimg2.uspto.gov";
constexpr const char* kApplicationPrimary = "aiw1.uspto.gov";
constexpr const char* kApplicationSecondary = "aiw2.uspto.gov";
constexpr const char* kSearch = "appft1.uspto.gov";
constexpr const char* kOps = "ops.espacenet.com";
constexpr const char* kOpsPath = "/OpenPatentServices/webService";
constexpr const char* kEspacenetSite = "worldwide.espacenet.com";

// The maker's host: the latest version, the program file and its signature, the proxy test.
constexpr const char* kUpdateHost = "www.quorvane.org";

// The EPO's Open Patent Services 3.2 (HTTPS only), and where users get a key for it.
constexpr const char* kEpoOpsBase = "https://ops.epo.org/3.2/";
constexpr const char* kEpoDeveloperPortal = "https://developers.epo.org/";

// The USPTO's Patent Public Search (HTTPS only), which needs no key.
constexpr const char* kPpubsBase = "https://ppubs.uspto.gov";

} // namespace remotehosts
