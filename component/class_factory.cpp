#include "component/class_factory.h"

#include <new>

#include "component/extension_object.h"
#include "component/object_count.h"

namespace vost {

struct ClassFactoryTable {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(ClassFactory*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(ClassFactory*);
    ULONG(STDMETHODCALLTYPE* Release)(ClassFactory*);
    HRESULT(STDMETHODCALLTYPE* CreateInstance)(ClassFactory*, IUnknown*, REFIID, void**);
    HRESULT(STDMETHODCALLTYPE* LockServer)(ClassFactory*, BOOL);
};

namespace {

ULONG STDMETHODCALLTYPE classFactoryAddRef(ClassFactory* self) {
    return ULONG(InterlockedIncrement(&self->refCount));
}

HRESULT STDMETHODCALLTYPE classFactoryCreateInstance(ClassFactory*, IUnknown* outer, REFIID riid,
                                                     void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    DependencyExtension* extension = newDependencyExtension();
    if (extension == nullptr) return E_OUTOFMEMORY;
    // The query takes the first reference; an object that it refuses holds
    // none and is destroyed at once.
    HRESULT result = extensionQueryInterface(extension, riid, ppv);
    if (FAILED(result)) deleteDependencyExtension(extension);
    return result;
}

// The lock count is not kept: the shell's objects keep the library loaded.
HRESULT STDMETHODCALLTYPE classFactoryLockServer(ClassFactory*, BOOL) { return S_OK; }

const ClassFactoryTable kClassFactoryTable = {
    classFactoryQueryInterface, classFactoryAddRef, classFactoryRelease,
    classFactoryCreateInstance, classFactoryLockServer};

}  // namespace

ClassFactory* newClassFactory() {
    ClassFactory* factory = new (std::nothrow) ClassFactory{&kClassFactoryTable, 0};
    if (factory != nullptr) raiseObjectCount();
    return factory;
}

HRESULT STDMETHODCALLTYPE classFactoryQueryInterface(ClassFactory* self, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    *ppv = self;
    classFactoryAddRef(self);
    return S_OK;
}

ULONG STDMETHODCALLTYPE classFactoryRelease(ClassFactory* self) {
    LONG count = InterlockedDecrement(&self->refCount);
    if (count != 0) return ULONG(count);
    delete self;
    lowerObjectCount();
    return 0;
}

}  // namespace vost
