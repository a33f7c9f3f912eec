// The module object of quillbrook.dll: its lock count, its identifiers and
// the DLL-level operations over the object map.
#pragma once

#include "com/module_base.h"
#include "server/identifiers.h"

class CQuillbrookModule : public CAtlDllModuleT<CQuillbrookModule> {
public:
    static void InitLibId() noexcept { m_libid = LIBID_QuillbrookLib; }
};

extern CQuillbrookModule _AtlModule;
