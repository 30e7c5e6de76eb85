// A server's trace as code that only writes trace lines sees it: the level
// test and the writing of one record. ZRM_TServer is one; code that takes a
// ZRM_TTracer does not need the rest of the middleware.
#pragma once

#include <string>

#include "platform/types/zr.h"

class ZRM_TTracer {
 public:
  // True when trace records of that level are wanted (level <= debug level).
  virtual bool OnDebugLevel(int level) const = 0;
  // Writes "<UTC time> L<level> #<request> <text>" and a line feed (unless
  // the text ends with one) when the level is wanted.
  virtual void DBG_Type(int level, const char* text) const = 0;
  virtual void DBG_Type(int level, const ZR_TString& text) const = 0;
  virtual void DBG_Type(int level, const std::string& text) const = 0;

 protected:
  ~ZRM_TTracer() = default;  // not deleted through this interface
};
