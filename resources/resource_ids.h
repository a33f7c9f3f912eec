// Resource numbers of quillbrook.dll, shared by the resource script and the
// classes that name their registry scripts. Plain #defines, so that the
// resource compiler reads them too.
#pragma once

#define IDR_APPID 101
#define IDR_PROPERTYHANDLER 102
#define IDR_THUMBNAILPROVIDER 103
