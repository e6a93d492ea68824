// Not part of any program: a transport-layer source that reaches up into the command layer. The
// build must reject it (see tokenlib_layering_test); if it ever compiles, the layers leak.
#include "uk_transport.h"
#include "uk_commands.h"

int ukLayerProbe() { return 0; }
