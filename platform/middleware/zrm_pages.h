// Fixed resources a server publishes beside its service path: a browser
// page, its script and style, a small JSON document. GET answers them with
// their bytes and with headers that let a browser run only what the page's
// own origin serves (no inline script or style, no framing, no sniffing).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

struct ZRM_Page {
  std::string content_type;
  std::string body;
  bool open = false;            // answered without the bearer token
  const void* owner = nullptr;  // the server that published it
};

// The header lines of every page answer, joined by CRLF (none at the end).
extern const char kZRM_PageHeaders[];

// Path -> page, shared by the request threads.
class ZRM_PageTable {
 public:
  // Adds or replaces the page at path. Throws ZR_EException when the path
  // does not begin with "/", is an operational path (/healthz, /readyz,
  // /metrics), or is published by another owner.
  void Add(const std::string& path, ZRM_Page page);
  // Null when no page is published at path.
  std::shared_ptr<const ZRM_Page> Find(std::string_view path) const;
  // Drops every page of owner (its binding ends).
  void RemoveOwner(const void* owner);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const ZRM_Page>, std::less<>> pages_;
};
