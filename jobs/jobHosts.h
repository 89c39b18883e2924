// What the jobs take from the remote hosts: the hosts themselves, and the limits on answers.
#pragma once

#include "remoteHosts.h"

#include <cstddef>

namespace jobhosts {

using namespace remotehosts;

// More pages than any document has: a larger count in an answer is not believed, since
// the page list and the PDF's page tree are built for all pages before the first one.
constexpr long kMaxPages = 100000;
// Characters all page paths of one document may take together: far above any real document
// (20000 pages of 100 characters are 2 Mi), while a small odd answer cannot make a job hold
// gigabytes.
constexpr size_t kMaxPageListCharacters = size_t(16) << 20;

// The most an answer of each kind may hold once decoded; a larger one fails that request.
// Each is far above the largest real answer: a Group 4 page of an A4 sheet at 400 dpi is
// below 2 MB even for a page of noise, page lists and search pages are some kilobytes, a
// SOAP inquiry some kilobytes and a SOAP page answer one page image.
constexpr size_t kMaxPageAnswer = size_t(32) << 20;
constexpr size_t kMaxPageListAnswer = size_t(4) << 20;
constexpr size_t kMaxSearchAnswer = size_t(4) << 20;
constexpr size_t kMaxSoapInquiryAnswer = size_t(4) << 20;
constexpr size_t kMaxSoapPageAnswer = kMaxPageAnswer + (size_t(1) << 20);

} // namespace jobhosts
