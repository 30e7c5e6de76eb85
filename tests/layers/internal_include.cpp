// Compiled with the include path of the service's library: must fail,
// because the data-object layer offers only ado.h to other components.
#include "platform/ado/connection.h"
