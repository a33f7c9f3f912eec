// register and unregister: the module's own registration of its classes,
// per machine or for the current user.
#pragma once

#include <string>

// `dllPath` empty: the quillbrook.dll beside this program. 0 on success.
int RegisterModule(const std::wstring& dllPath, bool doRegister, bool perUser);
