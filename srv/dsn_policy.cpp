#include "srv/dsn_policy.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/types/zr.h"

namespace {

// Keywords the driver manager acts on itself: each would let a client pick
// another driver library, data source or file.
constexpr std::string_view kNeverAllowed[] = {"DRIVER", "DSN", "FILEDSN", "SAVEFILE", "ODBC"};

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Upper(c);
  return out;
}

// Letter case does not matter: the driver manager finds sections and
// keywords without regard to it.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

bool IsNeverAllowed(std::string_view keyword) {
  for (std::string_view k : kNeverAllowed)
    if (SameName(k, keyword)) return true;
  return false;
}

// Letters, digits and '_', 1 to 32 of them: the keywords drivers read.
bool IsKeyword(std::string_view text) {
  if (text.empty() || text.size() > 32) return false;
  for (char c : text) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The comma-separated items of a variable, blanks around each item dropped.
std::vector<std::string_view> Items(std::string_view text) {
  std::vector<std::string_view> items;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    items.push_back(TrimBlanks(text.substr(start, comma == std::string_view::npos ? comma : comma - start)));
    if (comma == std::string_view::npos) return items;
    start = comma + 1;
  }
}

[[noreturn]] void Bad(const char* var, const std::string& why) { throw ZR_EException(std::string(var) + " " + why); }

// The text of a start-up message: control characters would break the line.
std::string Shown(std::string_view text) {
  std::string out;
  for (char c : text) out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
  return out;
}

const char* kRefused = "[vqsrv] Data source name refused: ";

}  // namespace

std::string VQ_DsnNameFault(std::string_view name) {
  if (name.empty()) return "the name is empty";
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return "the name contains a control character";
    // The driver manager cuts characters beyond ASCII to their low byte,
    // so U+013B would reach it as ';'.
    if (u >= 0x80) return "the name contains a character beyond ASCII";
    switch (c) {
      case ';': case '=': case '{': case '}': case '[': case ']':
        return std::string("the name contains '") + c + "'";
      default: break;
    }
  }
  if (name.front() == ' ' || name.back() == ' ') return "the name starts or ends with a blank";
  if (name.size() > VQ_TDsnPolicy::kMaxNameLength) return "the name is longer than 32 characters";
  return "";
}

bool VQ_IsPasswordKeyword(std::string_view keyword) {
  const std::string upper = UpperCase(keyword);
  return upper.find("PWD") != std::string::npos || upper.find("PASS") != std::string::npos;
}

VQ_TDsnPolicy::VQ_TDsnPolicy(const char* dsns, const char* attributes) {
  if (dsns != nullptr) {
    names_limited_ = true;
    if (TrimBlanks(dsns).empty()) Bad("VQ_DSNS", "lists no data source name (unset it to allow every DSN)");
    for (std::string_view item : Items(dsns)) {
      const std::string fault = VQ_DsnNameFault(item);
      if (!fault.empty()) Bad("VQ_DSNS", "must list data source names, not \"" + Shown(item) + "\": " + fault);
      if (!Listed(item)) names_.emplace_back(item);
    }
  }
  if (attributes != nullptr && !TrimBlanks(attributes).empty()) {
    for (std::string_view item : Items(attributes)) {
      if (!IsKeyword(item))
        Bad("VQ_DSN_ATTRIBUTES", "must list keywords (letters, digits, '_'), not \"" + Shown(item) + "\"");
      if (IsNeverAllowed(item))
        Bad("VQ_DSN_ATTRIBUTES", "must not list " + UpperCase(item) + ": a client may never set it");
      std::string upper = UpperCase(item);
      bool seen = false;
      for (const std::string& k : attributes_) seen = seen || k == upper;
      if (!seen) attributes_.push_back(std::move(upper));
    }
  }
}

bool VQ_TDsnPolicy::Listed(std::string_view name) const {
  for (const std::string& n : names_)
    if (SameName(n, name)) return true;
  return false;
}

std::string VQ_TDsnPolicy::Check(std::string_view p1) const {
  const size_t semicolon = p1.find(';');
  const std::string_view name = p1.substr(0, semicolon);
  std::string fault = VQ_DsnNameFault(name);
  if (!fault.empty()) return kRefused + fault;
  if (names_limited_ && !Listed(name)) return kRefused + ("\"" + std::string(name) + "\" is not in VQ_DSNS");
  if (semicolon == std::string_view::npos) return "";
  if (attributes_.empty()) return kRefused + std::string("the name contains ';' (VQ_DSN_ATTRIBUTES allows no attributes)");
  fault = CheckAttributes(p1.substr(semicolon + 1));
  return fault.empty() ? "" : kRefused + fault;
}

// text: "KEYWORD=value;KEYWORD=value", a final ';' allowed. Values hold
// printable ASCII without ';', '{' or '}', so every parser on the way (the
// driver manager's and the driver's) ends them at the same place.
std::string VQ_TDsnPolicy::CheckAttributes(std::string_view text) const {
  std::vector<std::string> given;
  while (!text.empty()) {
    const size_t end = text.find(';');
    const std::string_view pair = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos) return "an attribute without '=' (KEYWORD=value)";
    const std::string_view keyword = pair.substr(0, eq);
    if (!IsKeyword(keyword)) return "an attribute name that is no keyword (letters, digits, '_')";
    const std::string upper = UpperCase(keyword);
    if (IsNeverAllowed(keyword)) return "the attribute " + upper + " is never allowed";
    bool allowed = false;
    for (const std::string& k : attributes_) allowed = allowed || k == upper;
    if (!allowed) return "the attribute " + upper + " is not in VQ_DSN_ATTRIBUTES";
    for (const std::string& k : given)
      if (k == upper) return "the attribute " + upper + " is given twice";
    given.push_back(upper);
    for (char c : pair.substr(eq + 1)) {
      const unsigned char u = static_cast<unsigned char>(c);
      if (u < 0x20 || u >= 0x7F || c == '{' || c == '}')
        return "the value of " + upper + " holds '{', '}', a control character or a character beyond ASCII";
    }
  }
  return "";
}

const VQ_TDsnPolicy& VQ_DsnPolicy() {
  static std::mutex mutex;
  static std::unique_ptr<const VQ_TDsnPolicy> policy;
  std::lock_guard<std::mutex> lock(mutex);
  if (!policy) {
    policy = std::make_unique<const VQ_TDsnPolicy>(std::getenv("VQ_DSNS"), std::getenv("VQ_DSN_ATTRIBUTES"));
  }
  return *policy;
}
