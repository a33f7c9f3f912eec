// A class object got once and kept, as a host that keeps its class objects
// does: each object then costs IClassFactory::CreateInstance alone, without
// CoCreateInstance's look-up of the class in the registry.
#pragma once

#include "tools/cli/class_source.h"

// The class object of `clsid` from `source`: through CoGetClassObject for the
// registered classes, or the loaded DLL's DllGetClassObject.
HRESULT GetClassObject(const ClassSource& source, REFCLSID clsid, IClassFactory** factory);
