// Compiled with the include path of the service's library: must build, as
// the public headers of every component it uses are reachable.
#include "platform/ado/ado.h"
#include "platform/com/com.h"
#include "platform/com/comsupp.h"
#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_tracer.h"
#include "platform/types/zr.h"
#include "platform/types/zr_json.h"
