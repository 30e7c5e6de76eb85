// Which data sources a client may name in P1 of "open", "query" and
// "querydbg". The connection string is "DSN=" + P1, and attributes in a
// connection string override the DSN's own (database file, host, user ...),
// so only a data source name, and the attributes the operator allows, may
// reach the driver manager.
//
//   VQ_DSNS            comma-separated names a client may use; unset: every
//                      name (one the driver manager does not know fails there
//                      with "Data source name not found", before any driver
//                      is loaded)
//   VQ_DSN_ATTRIBUTES  comma-separated keywords a client may add after the
//                      name as ";KEYWORD=value" (for example UID,PWD); unset
//                      or empty: none
//
// Both are read once, when the server starts; a bad value stops start-up.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class VQ_TDsnPolicy {
 public:
  // The longest name the driver manager takes whole (its SQL_MAX_DSN_LENGTH).
  static constexpr size_t kMaxNameLength = 32;

  // Every name, no attributes.
  VQ_TDsnPolicy() = default;
  // From the values of VQ_DSNS and VQ_DSN_ATTRIBUTES (null: unset). Throws
  // ZR_EException naming the variable for a bad value.
  VQ_TDsnPolicy(const char* dsns, const char* attributes);

  // Checks P1 (UTF-8). Empty when it may be handed to the driver manager,
  // else why it is refused; the reason never repeats an attribute's value.
  std::string Check(std::string_view p1) const;

  // True when VQ_DSNS is set; then Names() are the only names allowed.
  bool NamesLimited() const { return names_limited_; }
  // The names of VQ_DSNS in the order given (duplicates dropped).
  const std::vector<std::string>& Names() const { return names_; }
  // The keywords of VQ_DSN_ATTRIBUTES, upper case, in the order given.
  const std::vector<std::string>& Attributes() const { return attributes_; }

 private:
  std::string CheckAttributes(std::string_view text) const;
  bool Listed(std::string_view name) const;

  bool names_limited_ = false;
  std::vector<std::string> names_;
  std::vector<std::string> attributes_;
};

// The process's policy, read from the environment on the first call (the
// server's constructor makes that call, so a bad value stops start-up).
// Throws like the constructor; a later call tries again.
const VQ_TDsnPolicy& VQ_DsnPolicy();

// Why name is no data source name (1 to 32 printable ASCII characters, none
// of ; = { } [ ], no blank at either end); empty when it is one.
std::string VQ_DsnNameFault(std::string_view name);

// True for keywords whose values are passwords (PWD, PASSWORD, SSLPASSWORD
// ...): they are never written to the trace.
bool VQ_IsPasswordKeyword(std::string_view keyword);

// A connection text with the value of every password keyword replaced by
// "***", for the trace. Braced values ({...}) are masked whole.
std::string VQ_MaskPasswords(std::string_view connection_text);
