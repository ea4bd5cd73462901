#pragma once
// See oiioversion.h: pugixml is compiled into the program, nothing is exported.
#include <OpenImageIO/oiioversion.h>
#define OIIO_API
