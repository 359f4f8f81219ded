// The component's class factory: a hand-written COM object with the one
// interface IClassFactory.
#pragma once

#include <windows.h>

namespace vost {

struct ClassFactoryTable;

struct ClassFactory {
    const ClassFactoryTable* table;  // IClassFactory: the object's only interface
    LONG refCount;                   // starts at 0; the first QueryInterface makes it 1
};

// A new factory with reference count 0 (objectCount raised); null when it
// cannot be allocated.
ClassFactory* newClassFactory();

HRESULT STDMETHODCALLTYPE classFactoryQueryInterface(ClassFactory* self, REFIID riid, void** ppv);
ULONG STDMETHODCALLTYPE classFactoryRelease(ClassFactory* self);

}  // namespace vost
