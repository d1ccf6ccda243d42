// Compiles every generated class of the access layer once with the library,
// so that a fault in a template or in the generator shows in the build.
#include "access/VarnoxAccess.h"
