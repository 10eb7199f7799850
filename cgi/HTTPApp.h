// The web request and response as the rest of the system sees them, and the
// dispatcher that routes a request to an action item or to a component that
// dispatches itself by path. Each job lives in a file of its own; this header
// brings in all of them for their users.
#pragma once

#include "cgi/Dispatch.h"       // routing: action items, auto-dispatching components
#include "cgi/FieldDecoding.h"  // URL-encoded fields and the field list
#include "cgi/HTTPDates.h"      // HTTP dates
#include "cgi/HTTPRequest.h"    // the request and its failure log
#include "cgi/HTTPResponse.h"   // the response and its cookies
#include "cgi/Streams.h"        // body and content streams
#include "cgi/WebModule.h"      // modules built from their form descriptions
