// Command "extr": a piece of a text by start position and character count.
#include "srv/vq_server.h"

void VQ_TServer::CommandExtr(const ZR_TDict& request, ZR_TAny& reply) const {
  const ZR_TString& text = ZR_Fetch<ZR_TString>(request, "P1", "ZR_TString");
  const uint32_t start = ZR_Fetch<uint32_t>(request, "P2", "ZR_TUInt32");
  uint32_t count = 0xFFFFFFFF;  // up to the end of the text
  if (request.Has("P3")) count = ZR_Fetch<uint32_t>(request, "P3", "ZR_TUInt32");
  reply = text.SubString(start, count);
}
