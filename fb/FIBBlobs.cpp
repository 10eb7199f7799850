// Blobs: the text of a blob column, read whole, and text parameters written into
// new blobs before an execution.
#include <algorithm>
#include <cstring>
#include <string>

#include "fb/FIBInternal.h"
#include "fb/FIBQuery.h"
#include "fb/fib.h"

namespace {
// The bytes written to a blob per call.
constexpr size_t kBlobSegment = 32768;
}  // namespace

std::string TFIBXSQLVAR::BlobText() const {
  static const std::string kBlob = "(BLOB)";
  TFIBQuery* q = Query();
  if (!q || !q->Database() || !q->Database()->ClientLibrary() || !q->Transaction()) return kBlob;
  IIBClientLibrary& lib = *q->Database()->ClientLibrary();
  ISC_STATUS* status = StatusVector();
  TFBBlobHandle blob;
  ISC_QUAD id = FIBRead<ISC_QUAD>(Data()->sqldata);
  if (blob.Open(lib, [&](TFBHandleValue* handle) {
        return lib.isc_open_blob2(status, q->Database()->Handle(), q->Transaction()->Handle(),
                                  handle, &id, 0, nullptr);
      }) != 0)
    return kBlob;
  std::string out;
  char buffer[16384];
  for (;;) {
    unsigned short got = 0;
    const ISC_STATUS st = lib.isc_get_segment(status, blob.Ref(), &got, sizeof buffer, buffer);
    if (st == 0 || st == isc_segment) {
      out.append(buffer, got);
    } else if (st == isc_segstr_eof) {
      break;
    } else {
      return kBlob;
    }
  }
  blob.Release(status);
  return out;
}

bool TFIBQuery::HasBlobParams() const {
  const TFIBXSQLDA& params = *FStatement.Params;
  for (int i = 0; i < params.Count(); ++i)
    if (params.FVars[i]->FBlobContent) return true;
  return false;
}

void TFIBQuery::WriteBlobParams() {
  if (!HasBlobParams()) return;
  IIBClientLibrary& lib = Library();
  ISC_STATUS* status = StatusVector();
  for (int i = 0; i < FStatement.Params->Count(); ++i) {
    TFIBXSQLVAR& v = *FStatement.Params->FVars[i];
    if (!v.FBlobContent) continue;
    TFBBlobHandle blob;
    ISC_QUAD id{};
    Check(blob.Open(lib,
                    [&](TFBHandleValue* handle) {
                      return lib.isc_create_blob2(status, FBase.DBHandle(), FBase.TRHandle(),
                                                  handle, &id, 0, nullptr);
                    }),
          true);
    const std::string& content = *v.FBlobContent;
    for (size_t at = 0; at < content.size(); at += kBlobSegment) {
      const size_t chunk = std::min<size_t>(kBlobSegment, content.size() - at);
      // A blob left open is closed with a status vector of its own (FIBHandles.cpp).
      Check(lib.isc_put_segment(status, blob.Ref(), static_cast<unsigned short>(chunk),
                                content.data() + at),
            true);
    }
    Check(blob.Release(status), true);
    std::memcpy(v.Data()->sqldata, &id, sizeof id);
  }
}
