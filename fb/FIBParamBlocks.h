// The option blocks a connection attaches with (DPB) and a transaction starts
// with (TPB), built from their "name=value" lines. A name may carry the
// "isc_dpb_" / "isc_tpb_" prefix and is compared without regard to case. Each
// line is trimmed in place. Raise EFIBClientError for an unknown or unsupported
// name and for a value or block too long for its length field.
#pragma once

#include <string>

class TStringList;

std::string FIBBuildDPB(TStringList& lines);
// The empty block for no lines: the client library's default transaction.
std::string FIBBuildTPB(TStringList& lines);
