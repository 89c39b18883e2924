// The proxy the system's own settings name, where the system has such settings (Windows:
// the user's WinHTTP/Internet settings). Linux has none: the environment decides there.
#pragma once

#include <string>

// The proxy ("host:port") for a request to host, or "" for a direct connection, in *proxy.
// False when the system names no proxy at all: then the environment's apply.
bool SystemProxyFor(bool https, const std::string& host, std::string* proxy);

// Reads a proxy list of the Windows form: "host:port" for every scheme, or entries
// "scheme=host:port" separated by ';' or blanks; bypass: patterns separated the same way,
// '*' matching any text, "<local>" matching host names without a dot. Sets *proxy to the
// proxy for host ("" when it is bypassed) and answers true, or false when the list names
// no proxy for the scheme.
bool ProxyFromList(const std::string& list, const std::string& bypass, bool https,
                   const std::string& host, std::string* proxy);
