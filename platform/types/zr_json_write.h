// JSON writer used by ZR_JsonEncode and by the Print/Text forms of values,
// so a dictionary or array prints without first being copied into a ZR_TAny.
#pragma once

#include <string>

#include "platform/types/zr.h"

namespace zr_json {

void Write(const ZR_TAny& value, std::string& out);
void Write(const ZR_TDict& value, std::string& out);
void Write(const ZR_TArray& value, std::string& out);

}  // namespace zr_json
