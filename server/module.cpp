#include "server/module.h"

#include "com/class_factory.h"
#include "handler/property_handler.h"
#include "thumbnail/thumbnail_provider.h"

#include <iterator>

namespace {

extern "C" IMAGE_DOS_HEADER __ImageBase;

ObjectMapEntry g_objectMap[] = {
    {&CLSID_PropertyHandler, CPropertyHandler::UpdateRegistry, CreateClassObject, CPropertyHandler::CreateInstance,
     nullptr, 0, nullptr, nullptr, nullptr},
    {&CLSID_ThumbnailProvider, CThumbnailProvider::UpdateRegistry, CreateClassObject,
     CThumbnailProvider::CreateInstance, nullptr, 0, nullptr, nullptr, nullptr},
};

// Constructed in this order at load and destroyed in reverse at unload: the
// COM module record, the base module record, then the module object.
CAtlComModule g_comModule(reinterpret_cast<HINSTANCE>(&__ImageBase), std::begin(g_objectMap), std::end(g_objectMap));
CAtlBaseModule g_baseModule;

} // namespace

CQuillbrookModule::CQuillbrookModule() noexcept : CAtlDllModuleT(g_comModule, g_baseModule) {}

CQuillbrookModule g_module;
