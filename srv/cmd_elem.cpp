// Command "elem": one element of a text split at a separator character.
#include "srv/vq_server.h"

void VQ_TServer::CommandElem(const ZR_TDict& request, ZR_TAny& reply) const {
  const ZR_TString& text = ZR_Fetch<ZR_TString>(request, "P1", "ZR_TString");
  const char separator = ZR_Fetch<char>(request, "P2", "ZR_TChar");
  const int32_t index = static_cast<int32_t>(ZR_Fetch<uint32_t>(request, "P3", "ZR_TUInt32"));
  // An index of 2^31 or more is negative here and names no element.
  if (index < 0) {
    reply = ZR_TString();
    return;
  }
  int32_t start = 0;
  int32_t end = -1;
  for (int64_t pass = 0; pass <= index; ++pass) {
    start = end + 1;
    end = text.Find(separator, start, 0);
    if (end < 0) {
      end = text.Length();
      // Every further pass would give the same start and end again, except
      // that a pass past the last element starts one beyond the end.
      if (pass < index) start = end + 1;
      break;
    }
  }
  reply = text.SubString(static_cast<uint32_t>(start), static_cast<uint32_t>(end - start));
}
