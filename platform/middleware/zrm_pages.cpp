#include "platform/middleware/zrm_pages.h"

#include "platform/types/zr.h"

// default-src 'self' also stops inline scripts, inline styles and
// javascript: URLs, so text that ends up in the page as markup cannot run.
const char kZRM_PageHeaders[] =
    "Content-Security-Policy: default-src 'self'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "X-Frame-Options: DENY\r\n"
    "Cache-Control: no-cache";

void ZRM_PageTable::Add(const std::string& path, ZRM_Page page) {
  if (path.empty() || path[0] != '/' || path.find('?') != std::string::npos)
    throw ZR_EException("cannot publish a page at \"" + path + "\": the path must begin with / "
                        "and hold no query");
  if (page.content_type.find_first_of("\r\n") != std::string::npos)
    throw ZR_EException("cannot publish a page at \"" + path + "\": bad content type");
  if (path == "/healthz" || path == "/readyz" || path == "/metrics")
    throw ZR_EException("cannot publish a page at \"" + path + "\": the path is the server's own");
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pages_.find(path);
  if (it != pages_.end() && it->second->owner != page.owner)
    throw ZR_EException("cannot publish a page at \"" + path +
                        "\": another server published it already");
  auto shared = std::make_shared<const ZRM_Page>(std::move(page));
  if (it != pages_.end())
    it->second = std::move(shared);
  else
    pages_.emplace(path, std::move(shared));
}

std::shared_ptr<const ZRM_Page> ZRM_PageTable::Find(std::string_view path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pages_.find(path);
  return it == pages_.end() ? nullptr : it->second;
}

void ZRM_PageTable::RemoveOwner(const void* owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(pages_, [owner](const auto& entry) { return entry.second->owner == owner; });
}
