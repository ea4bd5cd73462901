#pragma once
// The Windows build takes pugixml's source from the copy that Debian's libopenimageio-dev
// ships (the only pugixml.cpp in Debian). That copy wraps pugixml in a namespace of its
// library and aliases it to "pugi"; these two names are all it asks of that library.
#define OIIO_NAMESPACE_BEGIN namespace OIIO {
#define OIIO_NAMESPACE_END }
