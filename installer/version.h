// Version of the product: the file and product version of the client manager (its version
// resource, read by its software update), the version its About box shows, and the version of
// the setups installer/build.sh makes unless it is given another. Written once, here.
//
// Kept free of anything but plain defines so that C, C++, resource scripts and shell scripts
// can all read it.
#pragma once

#define UK_VERSION_MAJOR 1
#define UK_VERSION_MINOR 0
#define UK_VERSION_BUILD 3
#define UK_VERSION_REVISION 0
