#include "page/state_images.h"

#include "component/module_instance.h"
#include "resources/resource_ids.h"

namespace vost {

HIMAGELIST createStateImages() {
    const int width = GetSystemMetrics(SM_CXSMICON), height = GetSystemMetrics(SM_CYSMICON);
    HIMAGELIST images = ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, kStateImageCount, 0);
    if (!images) return nullptr;
    if (auto* strip = static_cast<HBITMAP>(LoadImageW(static_cast<HINSTANCE>(moduleInstance),
                                                       MAKEINTRESOURCEW(IDB_STATE_IMAGES), IMAGE_BITMAP,
                                                       width * kStateImageCount, height, LR_CREATEDIBSECTION))) {
        ImageList_AddMasked(images, strip, RGB(255, 0, 255));
        DeleteObject(strip);
    }
    return images;
}

}  // namespace vost
