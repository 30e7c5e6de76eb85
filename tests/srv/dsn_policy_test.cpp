// The data source policy on its own: reading VQ_DSNS and VQ_DSN_ATTRIBUTES,
// checking P1, and masking passwords for the trace.
#include "srv/dsn_policy.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/types/zr.h"

namespace {

using Names = std::vector<std::string>;

std::string StartupError(const char* dsns, const char* attributes) {
  try {
    VQ_TDsnPolicy policy(dsns, attributes);
  } catch (const ZR_EException& e) {
    return e.Message();
  }
  return "";
}

TEST(DsnPolicy, ReadsTheVariables) {
  const VQ_TDsnPolicy unset(nullptr, nullptr);
  EXPECT_FALSE(unset.NamesLimited());
  EXPECT_TRUE(unset.Names().empty());
  EXPECT_TRUE(unset.Attributes().empty());

  // Order kept, blanks around items dropped, a repeat (in any case) once.
  const VQ_TDsnPolicy set(" demo , pg,my dsn,DEMO", "uid, PWD ,Uid");
  EXPECT_TRUE(set.NamesLimited());
  EXPECT_EQ(set.Names(), (Names{"demo", "pg", "my dsn"}));
  EXPECT_EQ(set.Attributes(), (Names{"UID", "PWD"}));
  EXPECT_TRUE(VQ_TDsnPolicy(nullptr, "").Attributes().empty());
}

TEST(DsnPolicy, BadValuesNameTheVariable) {
  EXPECT_EQ(StartupError("", nullptr), "VQ_DSNS lists no data source name (unset it to allow every DSN)");
  EXPECT_EQ(StartupError("demo,,pg", nullptr),
            "VQ_DSNS must list data source names, not \"\": the name is empty");
  EXPECT_EQ(StartupError("demo;Database=x", nullptr),
            "VQ_DSNS must list data source names, not \"demo;Database=x\": the name contains ';'");
  EXPECT_EQ(StartupError(std::string(33, 'n').c_str(), nullptr).rfind("VQ_DSNS ", 0), 0u);
  EXPECT_EQ(StartupError(nullptr, "UID,driver"), "VQ_DSN_ATTRIBUTES must not list DRIVER: a client may never set it");
  for (const char* never : {"DSN", "FileDsn", "SAVEFILE", "odbc"})
    EXPECT_EQ(StartupError(nullptr, never).rfind("VQ_DSN_ATTRIBUTES must not list ", 0), 0u) << never;
  EXPECT_EQ(StartupError(nullptr, "UID,P WD"),
            "VQ_DSN_ATTRIBUTES must list keywords (letters, digits, '_'), not \"P WD\"");
  EXPECT_EQ(StartupError(nullptr, "UID,"), "VQ_DSN_ATTRIBUTES must list keywords (letters, digits, '_'), not \"\"");
}

// The end-to-end tests walk through each rule; here the edges.
TEST(DsnPolicy, ChecksTheNameAndTheList) {
  EXPECT_EQ(VQ_DsnNameFault("my data-source.2 (test)"), "");
  EXPECT_EQ(VQ_DsnNameFault(std::string(32, 'x')), "");
  EXPECT_EQ(VQ_DsnNameFault(std::string(33, 'x')), "the name is longer than 32 characters");
  for (const char c : std::string(";={}[]"))
    EXPECT_EQ(VQ_DsnNameFault(std::string("de") + c + "mo"), std::string("the name contains '") + c + "'");
  EXPECT_EQ(VQ_DsnNameFault(std::string("de\0mo", 5)), "the name contains a control character");
  EXPECT_EQ(VQ_DsnNameFault("demo\x7f"), "the name contains a control character");

  const std::string refused = "[vqsrv] Data source name refused: ";
  const VQ_TDsnPolicy listed("demo,pg", nullptr);
  EXPECT_EQ(listed.Check("Demo"), "");  // the driver manager finds [demo] under it too
  EXPECT_EQ(listed.Check("dem"), refused + "\"dem\" is not in VQ_DSNS");
  // A bad name is refused for its fault before the list is asked.
  EXPECT_EQ(listed.Check("{demo}"), refused + "the name contains '{'");
  EXPECT_EQ(VQ_TDsnPolicy().Check("anything"), "");
}

TEST(DsnPolicy, ChecksTheAttributesAfterTheName) {
  const std::string refused = "[vqsrv] Data source name refused: ";
  const VQ_TDsnPolicy policy("pg", "UID,PWD");
  EXPECT_EQ(policy.Check("pg;UID=me;PWD=s3cret=x y"), "");
  EXPECT_EQ(policy.Check("pg;uid=me;Pwd=;"), "");  // any case; an empty value; a final ';'
  EXPECT_EQ(policy.Check("pg;"), "");
  EXPECT_EQ(policy.Check("other;UID=me"), refused + "\"other\" is not in VQ_DSNS");
  EXPECT_EQ(policy.Check("pg;Servername=evil;UID=me"), refused + "the attribute SERVERNAME is not in VQ_DSN_ATTRIBUTES");
  EXPECT_EQ(policy.Check("pg;UID=me;Driver=/tmp/x.so"), refused + "the attribute DRIVER is never allowed");
  EXPECT_EQ(policy.Check("pg;UID=a;uid=b"), refused + "the attribute UID is given twice");
  EXPECT_EQ(policy.Check("pg;UID=me;;PWD=x"), refused + "an attribute without '=' (KEYWORD=value)");
  EXPECT_EQ(policy.Check("pg;secret"), refused + "an attribute without '=' (KEYWORD=value)");
  EXPECT_EQ(policy.Check("pg; UID=me"), refused + "an attribute name that is no keyword (letters, digits, '_')");
  const std::string bad_value =
      refused + "the value of PWD holds '{', '}', a control character or a character beyond ASCII";
  // Braces would let a value run past a ';' in one parser and not in another.
  EXPECT_EQ(policy.Check("pg;PWD={a;Port=1}"), bad_value);
  EXPECT_EQ(policy.Check("pg;PWD=a}"), bad_value);
  EXPECT_EQ(policy.Check("pg;PWD=a\x01"), bad_value);
  EXPECT_EQ(policy.Check("pg;PWD=a\xC4\xBB" "Port\xC4\xBD" "1"), bad_value);
  // Never a value in the reason.
  EXPECT_EQ(policy.Check("pg;PWD=hunter2;PWD=hunter2").find("hunter2"), std::string::npos);
}

TEST(DsnPolicy, MasksPasswordValuesForTheTrace) {
  EXPECT_EQ(VQ_MaskPasswords("DSN=pg;UID=me;PWD=secret"), "DSN=pg;UID=me;PWD=***");
  EXPECT_EQ(VQ_MaskPasswords("DSN=pg;pwd=secret;Port=5"), "DSN=pg;pwd=***;Port=5");
  EXPECT_EQ(VQ_MaskPasswords("DSN=pg;Password=a=b;SSLPassword=c;"), "DSN=pg;Password=***;SSLPassword=***;");
  EXPECT_EQ(VQ_MaskPasswords("DSN=pg; PWD =secret"), "DSN=pg; PWD =***");
  EXPECT_EQ(VQ_MaskPasswords("DSN=pg;PWD={se;cr}}et};UID=me"), "DSN=pg;PWD=***;UID=me");
  EXPECT_EQ(VQ_MaskPasswords("DSN=pg;PWD={never closed;UID=x"), "DSN=pg;PWD=***");
  EXPECT_EQ(VQ_MaskPasswords("DSN=pg;PWD="), "DSN=pg;PWD=***");
  EXPECT_EQ(VQ_MaskPasswords("DSN="), "DSN=");
  EXPECT_EQ(VQ_MaskPasswords("DSN=pg;;junk;UID={a;b}"), "DSN=pg;;junk;UID={a;b}");
  EXPECT_EQ(VQ_MaskPasswords(""), "");
}

}  // namespace
