#include "display/device_window.h"

DeviceWindow::DeviceWindow()
    : presentParameters(),
      device(nullptr),
      window(nullptr),
      adapterInfo(nullptr),
      adapterOrdinal(0),
      deviceType(D3DDEVTYPE_HAL),
      depthFormat(nullptr)
{
}

DeviceWindow::~DeviceWindow()
{
    // The device goes first: it presents into the window.
    if (device)
        device->Release();
    if (window)
        DestroyWindow(window);
}
