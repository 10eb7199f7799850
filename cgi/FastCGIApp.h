// The FastCGI server: one process (or a supervisor and its children) serving
// request after request on a listening socket with the same application object,
// its kept module sets and what they keep (the database connection).
#pragma once

#include <string>

struct TLaunchOptions;
struct TWebModuleClass;

// Serves FastCGI requests until the termination signal: the request in flight is
// answered, the application (and with it the module and its connection) is
// destroyed, and the result is 0. A socket that cannot be opened or fails is
// reported on standard error and gives 1. Never raises. Each process runs the
// application through the same entry sequence as a CGI process (cgi/CGIApp.h).
// A build without FastCGI reports that on standard error and gives kUsageExitCode.
int RunFastCGI(const TLaunchOptions& options, const TWebModuleClass& moduleClass);
