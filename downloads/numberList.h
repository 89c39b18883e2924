// Lists of document numbers: text that holds several numbers (typed, pasted, dropped) and
// list files (one number per line, or the first column of a CSV file). Used by the window
// and by quorvane-get alike, so both read a list the same way.
#pragma once

#include <wx/string.h>

#include <string>
#include <vector>

// True when text holds a line break, a tab or a semicolon: a single number never does, so
// only such text is read as a list.
bool HoldsSeveralNumbers(const wxString& text);

// The pieces of text between line breaks, tabs and semicolons, in order, with the spaces
// around them trimmed; empty pieces are dropped. Spaces and commas inside a piece stay
// ("5,123,456", "EP 1000000 B1"): the usual cleaning removes them later.
std::vector<wxString> SplitNumbers(const wxString& text);

enum class ListFormat { Lines, Csv };

// Csv for a file name ending in ".csv" (any case), Lines otherwise.
ListFormat ListFormatOfName(const wxString& path);

// The numbers of a list file's bytes. Lines end in LF, CR LF or CR; a UTF-8 byte order mark
// is dropped; blank lines and lines whose first non-blank character is '#' are skipped.
// Lines: the whole trimmed line is one number (its commas are part of it).
// Csv: the first field, up to the first comma; a field in double quotes may hold commas and
// "" for a quote.
std::vector<wxString> NumbersOfList(const std::string& bytes, ListFormat format);

// Largest list file read: far beyond any real list, small enough to hold in memory.
constexpr size_t kMaxListFileBytes = 4 * 1024 * 1024;

// Reads at most kMaxListFileBytes from path ("-": standard input) into numbers. False with
// a sentence for the user in error when the file cannot be read or is too large.
bool ReadListFile(const wxString& path, std::vector<wxString>& numbers, wxString& error);
