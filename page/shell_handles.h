// Owners for the shell and window objects that the page's commands and its
// context menu obtain, so that every path out releases exactly what it got,
// in the reverse order of obtaining (locals are destroyed in reverse order of
// declaration). Windows only.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <utility>

namespace vost {

// One reference on a COM interface, released when the owner goes.
template <class Interface>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(Interface* pointer) : pointer_(pointer) {}
    ~ComRef() { reset(); }
    ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) reset(std::exchange(other.pointer_, nullptr));
        return *this;
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // For the out-parameter of a call that hands over a new reference.
    Interface** put() {
        reset();
        return &pointer_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    void reset(Interface* pointer = nullptr) {
        if (pointer_) pointer_->Release();
        pointer_ = pointer;
    }

private:
    Interface* pointer_ = nullptr;
};

// An item-ID list owned by the shell's task allocator, freed through it.
class ShellIdList {
public:
    explicit ShellIdList(IMalloc* allocator, LPITEMIDLIST list = nullptr)
        : allocator_(allocator), list_(list) {}
    ~ShellIdList() { reset(); }
    ShellIdList(const ShellIdList&) = delete;
    ShellIdList& operator=(const ShellIdList&) = delete;

    LPITEMIDLIST get() const { return list_; }
    explicit operator bool() const { return list_ != nullptr; }
    LPITEMIDLIST* put() {
        reset();
        return &list_;
    }
    void reset() {
        if (list_) allocator_->Free(list_);
        list_ = nullptr;
    }

private:
    IMalloc* allocator_;
    LPITEMIDLIST list_;
};

// A menu, destroyed (with the submenus it still holds) when the owner goes.
class MenuHandle {
public:
    explicit MenuHandle(HMENU menu = nullptr) : menu_(menu) {}
    ~MenuHandle() {
        if (menu_) DestroyMenu(menu_);
    }
    MenuHandle(const MenuHandle&) = delete;
    MenuHandle& operator=(const MenuHandle&) = delete;

    HMENU get() const { return menu_; }
    explicit operator bool() const { return menu_ != nullptr; }

private:
    HMENU menu_;
};

}  // namespace vost
