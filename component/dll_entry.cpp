// The library's entry points: the module entry and the two exported
// functions of an in-process COM server. There is no registration entry; an
// installer registers the class.
#include <windows.h>

#include "component/class_factory.h"
#include "component/class_id.h"
#include "component/module_instance.h"
#include "component/object_count.h"

namespace vost {
LONG objectCount = 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) vost::moduleInstance = instance;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return vost::objectCount == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, vost::kExtensionClassId)) return CLASS_E_CLASSNOTAVAILABLE;
    vost::ClassFactory* factory = vost::newClassFactory();
    if (factory == nullptr) return E_OUTOFMEMORY;
    HRESULT result = vost::classFactoryQueryInterface(factory, riid, ppv);
    // A factory that the query refused holds no reference: destroy it.
    if (FAILED(result)) {
        factory->refCount = 1;
        vost::classFactoryRelease(factory);
    }
    return result;
}
